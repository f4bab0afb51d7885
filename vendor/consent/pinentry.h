#pragma once

#include <string>

#include "vendor/consent/secret.h"

// Asks the person through a pinentry program (the Assuan protocol GnuPG
// uses): for a PIN or passphrase, or to confirm an action. The program is
// $QUORVANT_PINENTRY when set and not empty, else "pinentry" from PATH. Every
// wait is bounded: a dialog nobody answers ends as kNoAnswer, and the program
// is killed. Texts are UTF-8. The secret never appears in any detail text.
namespace consent {

enum class Answer {
  kGiven,       // a secret was entered, or the action was confirmed
  kCancelled,   // the person cancelled or declined
  kNoPinentry,  // no pinentry program could be started
  kNoAnswer,    // the program failed, broke the protocol or timed out
};

struct Prompt {
  std::string title;        // window title
  std::string description;  // what is asked for and why (names the key)
  std::string prompt;       // label beside the entry field, e.g. "PIN:"
  std::string error;        // shown above the entry, e.g. after a wrong PIN
  std::string repeat;       // when set, the secret is asked twice (a new one)
};

// Environment variable naming the pinentry program.
inline constexpr char kPinentryVariable[] = "QUORVANT_PINENTRY";

// Asks for a secret; on kGiven it is in `secret`. `detail` says what went
// wrong otherwise.
Answer askSecret(const Prompt& prompt, Secret& secret, std::string& detail);

// Asks the person to confirm `prompt.description`.
Answer askConfirmation(const Prompt& prompt, std::string& detail);

}  // namespace consent
