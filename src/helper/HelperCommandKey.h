#pragma once
// The key string that the setup plug-in encrypts every command message with and the privileged
// helper decrypts it with: 29 lowercase letters and digits, the same in both.
namespace telvo::helper {

constexpr const char kHelperCommandKey[] = "k4t7v0s3rv3r1nst4ll3rh3lp3r29";
static_assert(sizeof(kHelperCommandKey) - 1 == 29, "the shared key string is 29 characters");

}  // namespace telvo::helper
