#include "encoder/driver/written_file_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "image/tiff_fixture.h"
#include "platform/error.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

std::string refusal(const std::string& name, const WrittenShape& shape) {
  try {
    check_written_file(Quorvale::FileSpecification(name), shape);
  } catch (const Error& e) {
    return e.message();
  }
  return "";
}

}  // namespace

// Another shape, a cut file and a FIFO (which would block a reader) through the check.
TEST(WrittenFileCheck, RefusesWhatTheReadersRefuseAndSkipsWhatCannotBeRead) {
  vexal_test::ScratchDir dir;
  vexal_test::TiffSpec layout;
  layout.width = 160, layout.height = 128;
  vexal_test::write_tiff(dir / "in.tif", layout, vexal_test::pattern(layout));
  const std::string good = dir / "good.vxl", cut = dir / "cut.vxl";
  ASSERT_EQ(vexal_test::run_program(VEXAL_ENCODE_BIN, {"-i", dir / "in.tif", "-o", good}).status, 0);
  EXPECT_EQ(refusal(good, {160, 128, 1, 4}), "");
  EXPECT_EQ(refusal(good, {160, 128, 3, 4}),
            "Error: " + good + " as written does not read back (it holds 160 x 128 pixels, 1 "
            "band(s) and 4 levels instead of 160 x 128, 3 and 4); it was removed.");
  fs::copy_file(good, cut);
  fs::resize_file(cut, fs::file_size(good) / 2);
  EXPECT_NE(refusal(cut, {160, 128, 1, 4}).find(" as written does not read back (damaged file: "),
            std::string::npos);
  ASSERT_EQ(mkfifo((dir / "fifo.vxl").c_str(), 0600), 0);
  EXPECT_EQ(refusal(dir / "fifo.vxl", {160, 128, 1, 4}), "");
}
