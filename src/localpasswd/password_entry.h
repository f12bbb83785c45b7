// Reading a new password twice at the terminal, with a bounded number of attempts.
#pragma once

#include <functional>
#include <string>

#include "shredder.h"

// A prompt text: taken from the settings by key when key is not null, else the fixed text.
// Settings texts are looked up afresh before every use.
struct PromptText {
  const char* key;
  const char* text;
  std::string current() const;
};

enum class EntryOutcome {
  kEntered,     // out holds the new password
  kNothingRead, // a read returned nothing
  kNoMoreRetry, // five attempts refused by the judge or not confirmed
};

inline constexpr int kMaxMismatches = 5;

// Judges a new password before it is confirmed: empty when it may be used, else why not.
using NewPasswordJudge = std::function<std::string(const vesk::Shredder&)>;

// Asks for the new password and its confirmation until both agree, at most kMaxMismatches times,
// printing "They don't match; try again." and "They don't match; no more retry." on standard
// error. With pipeAllowed, an attempt made while standard input is not a terminal reads one
// password without prompt and without confirmation. A password that judge refuses is reported
// as "BAD PASSWORD: <why>" and asked for again; refusals count as attempts.
EntryOutcome readNewPassword(const PromptText& first, const PromptText& second, bool pipeAllowed,
                             vesk::Shredder& out, const NewPasswordJudge& judge = nullptr);
