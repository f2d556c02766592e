#include "video/frame_description.h"

#include <gtest/gtest.h>

#include "video_test_support.h"

namespace quorvel {
namespace {

TEST(FrameDescriptionTest, SizeClassFollowsWidthAndHalfHeightFields) {
  struct Case {
    std::uint32_t width, height, sizeClass;
  };
  const Case cases[] = {{199, 100, 1},  {200, 100, 2},  {399, 1000, 2}, {704, 288, 3},
                        {704, 352, 4},  {704, 351, 3},  {1023, 200, 3}, {1024, 200, 4},
                        {400, 0, 3},    {0xFFFFFFFFu, 0, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    EXPECT_EQ(FrameSizeClass(c.width, c.height), c.sizeClass);
  }
}

TEST(FrameDescriptionTest, FieldsByKalmenoVersion) {
  struct Case {
    const char* name;
    int version;
    test_support::Headers headers;
    std::uint32_t fourcc, width, height;
  };
  const Case cases[] = {
      {"v2 reads Width and Height, always JPEG", 2,
       {{"Fourcc", "875967048"}, {"Width", "704"}, {"Height", "576"}, {"Size", "1x1"}},
       kFourccJpeg, 704, 576},
      {"v2 width not a number: 0", 2, {{"Width", "704px"}, {"Height", "576"}}, kFourccJpeg, 0, 576},
      {"v3 reads Fourcc and Size", 3,
       {{"Fourcc", "875967048"}, {"Width", "1"}, {"Height", "1"}, {"Size", "640x480"}},
       875967048u, 640, 480},
      {"v3 another Size of as many characters", 3, {{"Fourcc", "875967048"}, {"Size", "704x576"}},
       875967048u, 704, 576},
      {"v4 half a Size: 0 x 0", 4, {{"Fourcc", "1195724874"}, {"Size", "640"}}, kFourccJpeg, 0, 0},
      {"v3 Fourcc as text gives 0", 3, {{"Fourcc", "JPEG"}, {"Size", "352x288"}}, 0, 352, 288},
      // The next two have the same header texts for both versions' keys.
      {"v2 with Fourcc and Size texts equal to Width and Height", 2,
       {{"Fourcc", "704"}, {"Width", "704"}, {"Height", "576"}, {"Size", "576"}}, kFourccJpeg, 704, 576},
      {"v3 with the same headers", 3,
       {{"Fourcc", "704"}, {"Width", "704"}, {"Height", "576"}, {"Size", "576"}}, 704, 0, 0},
      {"v3 with a text longer than the describer keeps", 3,
       {{"Fourcc", "00000000000000000000000000000000000000001"}, {"Size", "640x480"}}, 1, 640, 480},
      {"v3 without headers", 3, {{"Status", "OK"}}, 0, 0, 0},
  };
  // One describer for the whole table, as one channel's stream: every case
  // follows another and then itself.
  FrameDescriber describer;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ServerMessage message = video_test::StreamMessage(c.headers, "x");
    for (const FrameDescription d : {DescribeFrame(message, c.version), describer.Describe(message, c.version),
                                     describer.Describe(message, c.version)}) {
      EXPECT_EQ(d.fourcc, c.fourcc);
      EXPECT_EQ(d.width, c.width);
      EXPECT_EQ(d.height, c.height);
    }
  }
}

}  // namespace
}  // namespace quorvel
