#include "secret_prompt.h"

#include <string.h>

#include "terminal_prompt.h"

bool promptSecret(const char* prompt, vesk::Shredder& out) {
  char* typed = trell_getpass(prompt);
  if (typed == nullptr) return false;
  {
    vesk::Shredder copy(typed);
    out = copy;
  }
  explicit_bzero(typed, strlen(typed));
  return true;
}
