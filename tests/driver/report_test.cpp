#include "encoder/driver/report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/error.h"
#include "support/scratch_dir.h"

using Quorvale::FileSpecification;

namespace {

std::string formatted(double n) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&buffer, &size);
  format_size(f, n);
  std::fclose(f);
  std::string s(buffer, size);
  free(buffer);
  return s;
}

void touch(const std::string& name) { std::ofstream(name) << "x"; }

std::string slurp(const std::string& name) {
  std::ifstream in(name);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

TEST(FormatSize, ExactTexts) {
  EXPECT_EQ(formatted(1000), "1000 bytes\n");
  EXPECT_EQ(formatted(1024), "1.00 Kb (1,024 bytes)\n");
  EXPECT_EQ(formatted(999999), "976.56 Kb (999,999 bytes)\n");
  EXPECT_EQ(formatted(1048576), "1.00 Mb (1,048,576 bytes)\n");
  EXPECT_EQ(formatted(5000000000.0), "4.66 Gb (5,000,000,000 bytes)\n");
}

TEST(UniqueOutputName, NeverOverwrites) {
  vexal_test::ScratchDir dir;
  EXPECT_THROW(unique_output_name(FileSpecification(dir / "result.TXT")), Error);
  EXPECT_THROW(unique_output_name(FileSpecification(dir / "result.tXt")), Error);
  EXPECT_STREQ(unique_output_name(FileSpecification(dir / "r.text")).path(), (dir / "r.text").c_str());
  EXPECT_STREQ(unique_output_name(FileSpecification(dir / "scene.vxl")).path(),
               (dir / "scene.vxl").c_str());
  touch(dir / "scene.txt");  // the report alone also moves the name on
  EXPECT_STREQ(unique_output_name(FileSpecification(dir / "scene.vxl")).path(),
               (dir / "scene1.vxl").c_str());
  touch(dir / "scene1.vxl");
  EXPECT_STREQ(unique_output_name(FileSpecification(dir / "scene.vxl")).path(),
               (dir / "scene2.vxl").c_str());
  for (int i = 2; i <= 999; ++i) touch(dir / ("scene" + std::to_string(i) + ".vxl"));
  try {
    unique_output_name(FileSpecification(dir / "scene.vxl"));
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.message(), "Failed to create a unique file name for output file.");
  }
}

TEST(WriteReport, LinesInOrder) {
  vexal_test::ScratchDir dir;
  const std::string out = dir / "scene.vxl";
  std::ofstream(out) << std::string(2048, 'x');
  ReportInputs in{"in.dcm", FileSpecification(out), 4096.0, 9, 20.0f, 8, 8, 0, 0, 4.0f, 2.0f};
  write_report(in);
  const std::string text = slurp(dir / "scene.txt");
  EXPECT_NE(text.find("Input filename:  in.dcm\nOutput filename: " + out + "\n"), std::string::npos);
  EXPECT_NE(text.find("Input filesize: 4.00 Kb (4,096 bytes)\nOutput filesize: 2.00 Kb (2,048 bytes)\n"),
            std::string::npos);
  EXPECT_NE(text.find("Actual compression ratio: 2.00\nFile type: unknown\nGeoreferencing: None\n\nStart time: "),
            std::string::npos);
  EXPECT_NE(text.find("Intensity weight: 4.00\nGamma: 2.00\n"), std::string::npos);

  ReportInputs missing = in;
  missing.output = FileSpecification(dir / "absent.vxl");
  EXPECT_THROW(write_report(missing), OpenError);
}
