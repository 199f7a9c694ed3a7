// The sentences the front ends say for each error: the window in its
// "Error" box, the command line after the file's name. Both say the same
// words, so that a user of one recognises the other.
#pragma once

#include <string>

#include "wave/Error.h"

namespace corvella::messages {

// The exact sentence for a code: "Unable to open file!", "Not a PCM file!",
// ... A refusal whose words are its own (Unsupported, Refused) is its
// detail.
std::string MessageOf(const wave::Error& error);
// Whether an error of this code is said in its own words (its detail),
// rather than as a sentence with the detail after it.
bool InOwnWords(wave::ErrorCode code);

}  // namespace corvella::messages
