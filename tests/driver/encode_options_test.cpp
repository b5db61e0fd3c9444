#include "encoder/driver/encode_options.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/error.h"

namespace {

ParseOutcome parse(std::vector<const char*> args, EncodeOptions& o) {
  args.insert(args.begin(), "vexal_encode");
  return parse_command_line(static_cast<int>(args.size()), args.data(), o);
}

}  // namespace

TEST(EncodeOptions, DefaultsAndDerivedValues) {
  EncodeOptions o;
  ASSERT_EQ(parse({"-i", "C:\\data/scene.tif"}, o), ParseOutcome::kRun);
  EXPECT_EQ(*o.output_name, "scene.vxl");
  EXPECT_EQ(o.nlev, 4);
  EXPECT_EQ(o.block_size, 512);
  EXPECT_FLOAT_EQ(o.target_bit_rate, 0.4f);
  EXPECT_EQ(o.input_bit_rate, 8);
  EXPECT_EQ(o.dither, 1);
  EXPECT_FALSE(o.transparency.has_value());

  EncodeOptions p;
  parse({"-i", "x", "-c", "40", "-wl", "16", "-r", "99", "-nd", "-ht", "-rast", "-ir", "12"}, p);
  EXPECT_FLOAT_EQ(p.target_bit_rate, 0.4f);
  EXPECT_EQ(p.input_bit_rate, 12);
  EXPECT_EQ(p.image_type, kTypeRAST);
  EXPECT_EQ(p.dither, 0);
  EXPECT_EQ(p.hit_target, 1);
}

TEST(EncodeOptions, UsageCases) {
  EncodeOptions o;
  EXPECT_EQ(parse({}, o), ParseOutcome::kUsage);
  EXPECT_EQ(parse({"-h"}, o), ParseOutcome::kUsage);
  EXPECT_EQ(parse({"image.tif"}, o), ParseOutcome::kUsage);
  EXPECT_EQ(parse({"-i"}, o), ParseOutcome::kUsage);  // value missing
  testing::internal::CaptureStderr();
  EXPECT_EQ(parse({"-i", "x", "-zz"}, o), ParseOutcome::kUsage);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unrecognized option: -zz\n\n");
}

TEST(EncodeOptions, MissingInputAndMosaicWithoutReader) {
  EncodeOptions o;
  EXPECT_THROW(parse({"-n", "3"}, o), Error);
  EncodeOptions v;
  EXPECT_EQ(parse({"-v", "-n", "3"}, v), ParseOutcome::kRun);
  EncodeOptions e;
  EXPECT_EQ(parse({"-i", "", "-v"}, e), ParseOutcome::kRun);
  EXPECT_FALSE(e.input_name.has_value());
  EncodeOptions m;
  EXPECT_THROW(parse({"-jpeg", "-mos", "-i", "list.txt"}, m), Error);
}

TEST(EncodeOptions, Colors) {
  EXPECT_EQ(parse_color("300_0_0"), (Color{44, 0, 0}));
  EXPECT_EQ(parse_color("1_2_3"), (Color{1, 2, 3}));
  auto message = [](const char* text) {
    try {
      parse_color(text);
    } catch (const Error& e) {
      return std::string(e.message());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message("Red"), "Error: unrecognized color specification.");
  EXPECT_EQ(message(""), "Error: unrecognized color specification.");
  EXPECT_EQ(message("1_2_3_4"), "Error: unrecognized color specification.");
  EXPECT_EQ(message("a_2_3"), "Error: unable to convert color specification.");
  EXPECT_EQ(message("1__3"), "Error: unable to convert color specification.");
  EncodeOptions o;
  parse({"-i", "x", "-bgc", "WHITE", "-tpc", "blue"}, o);
  EXPECT_EQ(o.background, (Color{255, 255, 255}));
  EXPECT_EQ(*o.transparency, (Color{0, 0, 255}));
}

TEST(EncodeOptions, NamesAndTypeWords) {
  EXPECT_EQ(default_output_name("image"), "image.vxl");
  EXPECT_EQ(default_output_name("/a.b/c.d.tif"), "c.d.vxl");
  EXPECT_EQ(type_word(kTypeRAST, true), "RAST_MOSAIC");
  EXPECT_EQ(type_word(kTypeIDB, true), "IDB");
  EXPECT_EQ(type_word(kTypeRFI, false), "RFI");
  EXPECT_EQ(type_word(kTypeJPEG, true), "");
}
