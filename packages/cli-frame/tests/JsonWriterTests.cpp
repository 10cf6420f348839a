#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "cli-frame/Json/JsonWriter.h"
#include "cli-frame/Json/Utf8.h"

namespace cli {
namespace {

// Key order, plain and escaped slashes and sorted keys show in every tool's process tests.
TEST(JsonWriter, EscapesControlsRepairsUtf8WritesShortestNumbersAndRejectsNonFiniteOnes) {
    EXPECT_EQ(writeJson(Json(std::string("a\"b\\c\n\t\x01 \xff\xc3("))),
              "\"a\\\"b\\\\c\\n\\t\\u0001 \xEF\xBF\xBD\xEF\xBF\xBD(\"");
    EXPECT_TRUE(isValidUtf8(writeJson(Json(std::string("\xed\xa0\x80 surrogate")))));
    EXPECT_EQ(writeJson(Json::array({0.5, 1.0, 0.1, -3, std::int64_t{9007199254740993}, 1e21})),
              "[0.5,1,0.1,-3,9007199254740993,1e+21]");
    EXPECT_THROW(writeJson(Json::object({{"confidence", std::nan("")}})), JsonEncodingError);
    EXPECT_THROW(writeJson(Json::array({std::numeric_limits<double>::infinity()})), JsonEncodingError);
}

}  // namespace
}  // namespace cli
