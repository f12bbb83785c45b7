// Password prompt on the terminal.
#pragma once

#include "shredder.h"

// Writes the prompt (none when null) and reads one line with echo off. When standard input is a
// terminal the prompt goes to that terminal and the terminal's mode is restored on every path,
// also when a signal that ends or stops the process arrives during the read: the mode is put
// back, then the signal acts as it would have (signals the caller ignores stay ignored), and
// after a stop the input is hidden again. When standard input is not a
// terminal the prompt goes to standard error and one line is read from standard input.
// Returns the line without its line end, in a buffer owned by this module that the caller must
// wipe after copying and never free; null at end of input, on a read error, or for a line longer
// than kMaxPasswordLine or holding a NUL byte (lastPromptFailure tells which).
char* trell_getpass(const char* prompt);

inline constexpr unsigned kMaxPasswordLine = 1023;

// Why the last trell_getpass returned null (kNone after one that returned a line).
enum class PromptFailure { kNone, kEndOfInput, kReadError, kLineTooLong, kNulByte };
PromptFailure lastPromptFailure();

// Prompts with prompt (none when null) and moves the answer into out, wiping the typed buffer.
// Returns false, with out untouched, when nothing could be read (end of input, a closed terminal,
// a read error).
bool promptSecret(const char* prompt, vesk::Shredder& out);
