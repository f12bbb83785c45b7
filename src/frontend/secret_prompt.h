// Reading a secret at the terminal into a Shredder.
#pragma once

#include "shredder.h"

// Prompts with prompt and moves the answer into out, wiping the typed buffer. Returns false, with
// out untouched, when nothing could be read (end of input, a closed terminal, a read error).
bool promptSecret(const char* prompt, vesk::Shredder& out);
