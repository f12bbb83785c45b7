#include "password_entry.h"

#include <unistd.h>

#include <cstdio>

#include "props.h"
#include "terminal_prompt.h"

std::string PromptText::current() const {
  return key != nullptr ? vesk::lookupProperty(key, text) : std::string(text);
}

EntryOutcome readNewPassword(const PromptText& first, const PromptText& second, bool pipeAllowed,
                             vesk::Shredder& out) {
  out.shred();
  for (int mismatches = 0;;) {
    if (pipeAllowed && !isatty(STDIN_FILENO)) {
      return promptSecret(nullptr, out) ? EntryOutcome::kEntered : EntryOutcome::kNothingRead;
    }
    vesk::Shredder entered;
    if (!promptSecret(first.current().c_str(), entered)) return EntryOutcome::kNothingRead;
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
