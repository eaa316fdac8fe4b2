#include "platform/win/usertoken.h"

#include <vector>

namespace {

// The token's information of one class, or an empty buffer.
std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size)) buffer.clear();
  return buffer;
}

}  // namespace

bool IsCurrentUserOrAdministrators(PSID owner) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  const auto user = TokenInformation(token, TokenUser);
  const auto defaultOwner = TokenInformation(token, TokenOwner);
  CloseHandle(token);
  const bool isUser = !user.empty() && EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
  const bool isDefaultOwner =
      !defaultOwner.empty() && EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(defaultOwner.data())->Owner);
  return isUser || isDefaultOwner;
}
