// How the agent turns what the Kerberos library and the password server answer into result values
// and texts. Pure functions: no Kerberos library calls, so that they can be tested on recorded data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "agent_results.h"

namespace vesk::agentd {

// NTSTATUS values that a domain controller sends in a KRB-ERROR's e-data.
inline constexpr std::uint32_t kStatusWrongPassword = 0xC000006A;
inline constexpr std::uint32_t kStatusWorkstationDenied = 0xC0000070;
inline constexpr std::uint32_t kStatusPasswordExpired = 0xC0000071;
inline constexpr std::uint32_t kStatusAccountDisabled = 0xC0000072;
inline constexpr std::uint32_t kStatusAccountExpired = 0xC0000193;
inline constexpr std::uint32_t kStatusMustChange = 0xC0000224;
inline constexpr std::uint32_t kStatusLockedOut = 0xC0000234;

// The result of a password validation that failed with code, refined by the NTSTATUS of the
// KRB-ERROR when the KDC sent one. Unlisted codes give kResultKerberos.
int validateResult(int code, std::optional<std::uint32_t> ntstatus);

// The result of a failed AS exchange for the password service on the change and set paths:
// kResultKerberos for the codes the front end translates, kResultAccountExpired for an expired
// account, kResultSuccess when the failure is none of
// these (the caller then reports it as a result of the agent's own).
int changeAuthResult(int code);

// The fixed text of a password-change protocol result code ("Access denied" for 5).
std::string kpasswdResultText(int resultCode);

// A password server's message on one line, when it is printable text (lines joined with blanks,
// trailing NULs and line ends dropped), or a short note when it is not. Empty for an empty string.
std::string serverResultText(std::string_view bytes);

// The NTSTATUS of a KERB-EXT-ERROR in a KRB-ERROR's e-data: a METHOD-DATA or TYPED-DATA sequence
// (or a single KERB-ERROR-DATA) whose entry of type 3 holds 12 bytes (status, reserved, flags,
// little-endian). nullopt when the e-data carries none.
std::optional<std::uint32_t> extendedErrorStatus(std::string_view edata);

}  // namespace vesk::agentd
