#include "frame/credential_masking.h"

#include <gtest/gtest.h>

#include <string>

namespace brisel::frame {
namespace {

struct MaskingCase {
    const char* label;
    std::string text;
    std::string logged;
};

class CredentialMaskingTest : public ::testing::TestWithParam<MaskingCase> {};

TEST_P(CredentialMaskingTest, ValueOfAuthTokenIsHidden) {
    EXPECT_EQ(maskedCredentials(GetParam().text), GetParam().logged);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CredentialMaskingTest,
    ::testing::Values(
        MaskingCase{"plain", R"({"flashRequest":true,"auth_token":"sessionid=abc","port":"80"})",
                    R"({"flashRequest":true,"auth_token":"***","port":"80"})"},
        MaskingCase{"spacing_kept", "{ \"auth_token\" :\n \"x\\\"y\" , \"a\":1}",
                    "{ \"auth_token\" :\n \"***\" , \"a\":1}"},
        MaskingCase{"escaped_key", R"({"auth\u005ftoken":"secret"})", R"({"auth\u005ftoken":"***"})"},
        MaskingCase{"nested_and_repeated", R"({"a":{"auth_token":"one"},"b":[{"auth_token":"two"}]})",
                    R"({"a":{"auth_token":"***"},"b":[{"auth_token":"***"}]})"},
        MaskingCase{"non_string_values", R"({"auth_token":12345,"x":{"auth_token":{"k":"v"}}})",
                    R"({"auth_token":***,"x":{"auth_token":***}})"},
        MaskingCase{"value_named_like_the_key", R"({"note":"auth_token","auth_token":"s"})",
                    R"({"note":"auth_token","auth_token":"***"})"},
        MaskingCase{"unterminated", R"({"auth_token":"secret-without-end)", R"({"auth_token":"***")"},
        MaskingCase{"other_keys_untouched", R"({"auth_tokens":"a","xauth_token":"b"})",
                    R"({"auth_tokens":"a","xauth_token":"b"})"},
        MaskingCase{"not_json", "auth_token: secret", "auth_token: secret"}, MaskingCase{"empty", "", ""}),
    [](const auto& testCase) { return std::string(testCase.param.label); });

}  // namespace
}  // namespace brisel::frame
