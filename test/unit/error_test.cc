// Error values: construction forms, shared messages, the text form and the rule
// that turns a failed libuv request into an Error.
#include "utils/error.h"

#include <gtest/gtest.h>
#include <uv.h>

#include <string>

using namespace nubrix;

namespace {

// An error whose code comes from an override, as a copy must ask for it.
class FixedCodeError : public Error {
 public:
  explicit FixedCodeError(const String& message) : Error(7, message) {}
  int32_t code() const override { return 99; }
};

TEST(ErrorTest, Construction) {
  struct Case {
    Error error;
    int32_t code;
    const char* message;
  } cases[] = {
      {Error(), -1, "unknown exception"},
      {Error(String("plain")), -1, "plain"},
      {Error(-2, String("with code")), -2, "with code"},
      {Error(ERR_SYNTAX, "line %d, %s", 3, "x"), -10005, "line 3, x"},
      {Error("%s-%u", "fmt", 5u), -1, "fmt-5"},
      {Error(4, "100%% sure"), 4, "100% sure"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.error.code(), c.code);
    EXPECT_TRUE(c.error.message().equals(c.message)) << c.message;
  }
}

TEST(ErrorTest, CopiesShareTheMessage) {
  String text("a message shared by copies");
  Error e(5, text);
  EXPECT_TRUE(e.message().shares_core_with(text));
  int32_t refs = text.ref_count();
  Error copy(e);
  EXPECT_EQ(text.ref_count(), refs + 1);
  EXPECT_TRUE(copy.message().shares_core_with(text));
  EXPECT_EQ(copy.code(), 5);

  Error assigned;
  assigned = e;
  EXPECT_EQ(text.ref_count(), refs + 2);
  EXPECT_EQ(assigned.code(), 5);
  assigned.set_message(String("other"));
  assigned.set_code(-8);
  EXPECT_EQ(text.ref_count(), refs + 1);
  EXPECT_TRUE(assigned.message().equals("other"));
  EXPECT_EQ(assigned.code(), -8);
  EXPECT_TRUE(e.message().shares_core_with(text));

  FixedCodeError fixed(String("x"));
  Error sliced(fixed);
  EXPECT_EQ(sliced.code(), 99);  // taken through the virtual operation
}

TEST(ErrorTest, TextForm) {
  EXPECT_TRUE(Error(5, String("boom")).to_string().equals("message: boom, code: 5"));
  EXPECT_TRUE(Error().to_string().equals("message: unknown exception, code: -1"));
}

TEST(ErrorTest, ThrownAndCaughtByValue) {
  try {
    throw Error(-3, String("thrown"));
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), -3);
    EXPECT_TRUE(e.message().equals("thrown"));
  }
}

TEST(ErrorTest, LibuvRule) {
  struct Case {
    int result;
    const char* path;
    std::string suffix;
  } cases[] = {
      {UV_ENOENT, "/no/such/file", ", /no/such/file"},
      {UV_EACCES, nullptr, ", "},
      {UV_EEXIST, "", ", "},
  };
  for (const Case& c : cases) {
    try {
      throw_uv_error(c.result, c.path);
      ADD_FAILURE() << "no Error thrown";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), c.result);
      std::string m(e.message().c_str(), e.message().length());
      std::string head = std::string(uv_err_name(c.result)) + ", " + uv_strerror(c.result);
      EXPECT_EQ(m, head + c.suffix);
      EXPECT_EQ(m.rfind(head, 0), 0u);
    }
    Error e = uv_error(c.result, c.path);
    EXPECT_EQ(e.code(), c.result);
  }
  Error missing = uv_error(UV_ENOENT, "a.txt");
  EXPECT_TRUE(missing.message().starts_with(String("ENOENT, ")));
  EXPECT_TRUE(missing.message().ends_with(String(", a.txt")));
}

}  // namespace
