#pragma once

#include <string>
#include <string_view>

namespace kesmark {

// None: a plain message without an icon.
enum class MessageIcon { Critical, Exclamation, Information, Question, None };

// What a comparison run needs from the program around it: a place for status
// text and progress, a way to let the user interface breathe, the cancel flag,
// message boxes and the busy pointer. The Qt window, the command-line front end
// and the tests each implement it.
class Host {
  public:
    virtual ~Host() = default;

    // Text of the status line; an empty text clears it.
    virtual void SetStatusText(std::string_view text) = 0;
    // Position of the progress bar, 0 to 100.
    virtual void SetProgressPosition(int position) = 0;
    // Handles pending user-interface events and returns (a yield point).
    virtual void ProcessPendingEvents() = 0;
    // True once the user has asked to cancel the run. May be called from a
    // worker thread of the run, so implementations read an atomic flag.
    virtual bool CancelRequested() const = 0;
    // A modal message with a text, a caption and an icon, and an OK button.
    virtual void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
    // Shows (true) or restores (false) the busy mouse pointer.
    virtual void SetBusyPointer(bool busy) = 0;
};

}  // namespace kesmark
