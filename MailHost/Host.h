#pragma once
// The mail host program: its window side, its automation export, and the
// explorer it opens when a person starts it.
namespace kv::host {

// Runs the program; the exit code. Embedding: started for automation
// ("--embedding"), no window until a caller asks.
int Run(bool embedding);

} // namespace kv::host
