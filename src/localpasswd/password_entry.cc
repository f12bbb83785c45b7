#include "password_entry.h"

#include <string.h>
#include <unistd.h>

#include <cstdio>

#include "props.h"
#include "terminal_prompt.h"

std::string PromptText::current() const {
  return key != nullptr ? vesk::lookupProperty(key, text) : std::string(text);
}

bool readSecret(const char* prompt, vesk::Shredder& out) {
  char* typed = trell_getpass(prompt);
  if (typed == nullptr) return false;
  out = vesk::Shredder(typed);
  explicit_bzero(typed, strlen(typed));
  return true;
}

EntryOutcome readNewPassword(const PromptText& first, const PromptText& second, bool pipeAllowed,
                             vesk::Shredder& out) {
  out.shred();
  for (int mismatches = 0;;) {
    if (pipeAllowed && !isatty(STDIN_FILENO)) {
      return readSecret(nullptr, out) ? EntryOutcome::kEntered : EntryOutcome::kNothingRead;
    }
    vesk::Shredder entered;
    if (!readSecret(first.current().c_str(), entered)) return EntryOutcome::kNothingRead;
    vesk::Shredder confirmed;
    if (!readSecret(second.current().c_str(), confirmed)) return EntryOutcome::kNothingRead;
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
