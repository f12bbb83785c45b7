#include "password_entry.h"

#include <unistd.h>

#include <cstdio>

#include "props.h"
#include "terminal_prompt.h"

std::string PromptText::current() const {
  return key != nullptr ? vesk::lookupProperty(key, text) : std::string(text);
}

EntryOutcome readNewPassword(const PromptText& first, const PromptText& second, bool pipeAllowed,
                             vesk::Shredder& out, const NewPasswordJudge& judge) {
  out.shred();
  for (int mismatches = 0;;) {
    const bool piped = pipeAllowed && !isatty(STDIN_FILENO);
    vesk::Shredder entered;
    if (!promptSecret(piped ? nullptr : first.current().c_str(), entered)) return EntryOutcome::kNothingRead;
    const std::string refusal = judge ? judge(entered) : std::string();
    if (!refusal.empty()) {
      std::fprintf(stderr, "BAD PASSWORD: %s\n", refusal.c_str());
      if (++mismatches < kMaxMismatches) continue;
      std::fputs("Too many bad passwords; no more retry.\n", stderr);
      return EntryOutcome::kNoMoreRetry;
    }
    if (piped) {
      out = std::move(entered);
      return EntryOutcome::kEntered;
    }
    vesk::Shredder confirmed;
    if (!promptSecret(second.current().c_str(), confirmed)) return EntryOutcome::kNothingRead;
    if (entered == confirmed) {
      out = std::move(entered);
      return EntryOutcome::kEntered;
    }
    if (++mismatches >= kMaxMismatches) {
      std::fputs("They don't match; no more retry.\n", stderr);
      return EntryOutcome::kNoMoreRetry;
    }
    std::fputs("They don't match; try again.\n", stderr);
  }
}
