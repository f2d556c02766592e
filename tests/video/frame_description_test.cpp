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
      {"v4 half a Size: 0 x 0", 4, {{"Fourcc", "1195724874"}, {"Size", "640"}}, kFourccJpeg, 0, 0},
      {"v3 Fourcc as text gives 0", 3, {{"Fourcc", "JPEG"}, {"Size", "352x288"}}, 0, 352, 288},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FrameDescription d = DescribeFrame(video_test::StreamMessage(c.headers, "x"), c.version);
    EXPECT_EQ(d.fourcc, c.fourcc);
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.height, c.height);
  }
}

}  // namespace
}  // namespace quorvel
