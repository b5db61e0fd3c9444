// Registers the VXL driver. GDAL calls GDALRegister_VXL when it loads gdal_VXL.so from
// GDAL_DRIVER_PATH or its plugin folder; programs that link the driver call it themselves.
#include <gdal_priv.h>

#include "vxl_create.h"
#include "vxl_create_copy.h"
#include "vxl_dataset.h"

extern "C" void CPL_DLL GDALRegister_VXL() {
  if (!GDAL_CHECK_VERSION("VXL driver")) return;
  if (GDALGetDriverByName("VXL") != nullptr) return;
  auto* driver = new GDALDriver();
  driver->SetDescription("VXL");
  driver->SetMetadataItem(GDAL_DCAP_RASTER, "YES");
  driver->SetMetadataItem(GDAL_DCAP_VIRTUALIO, "YES");
  driver->SetMetadataItem(GDAL_DMD_LONGNAME, "Vexal multiresolution wavelet image");
  driver->SetMetadataItem(GDAL_DMD_EXTENSION, "vxl");
  driver->SetMetadataItem(GDAL_DMD_HELPTOPIC, "README.md#using-vxl-files-with-gdal-qgis-and-python");
  driver->SetMetadataItem("VXL_VERSION", VEXAL_VERSION_STRING);
  driver->pfnIdentify = VXLDataset::Identify;
  driver->pfnOpen = VXLDataset::Open;
  driver->SetMetadataItem(GDAL_DCAP_CREATECOPY, "YES");
  driver->SetMetadataItem(GDAL_DMD_CREATIONDATATYPES, "Byte UInt16 Int16 Float32");
  driver->SetMetadataItem(GDAL_DMD_CREATIONOPTIONLIST, kVxlCreationOptions);
  driver->pfnCreateCopy = VXLCreateCopy;
  driver->SetMetadataItem(GDAL_DCAP_CREATE, "YES");
  driver->pfnCreate = VXLCreate;
  GetGDALDriverManager()->RegisterDriver(driver);
}
