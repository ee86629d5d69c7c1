// Running modal dialogs without a user: for hosts that confirm or cancel dialogs with their
// initial values, and for tests that drive a dialog while it runs.
//
// The answer can also be given through the environment variable KAVEL_DIALOG_ANSWER
// ("accept", "cancel", or "driven"), read when a dialog starts.
#pragma once

#include <functional>

namespace platform {

class Dialog;

// Driven: the dialog runs its loop even without a screen, for a test that works it through
// the windowing system from elsewhere in the process.
enum class DialogAnswer { User, Accept, Cancel, Driven };

// Every modal dialog started from now on ends at once after initialisation: Accept sends the
// OK command (id 1), Cancel the Cancel command (id 2), as a click on those buttons would.
void SetDialogAnswer(DialogAnswer answer);
// The answer in force: the one set, else the environment's, else User.
DialogAnswer CurrentDialogAnswer();

// Called once in each modal run, from inside the dialog's message loop, after the dialog is
// shown; the hook may work the controls and end the dialog. Null removes it.
void SetModalHook(std::function<void(Dialog&)> hook);

// Modal dialogs run so far in this process.
int ModalRunCount();

}  // namespace platform
