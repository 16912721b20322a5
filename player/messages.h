#pragma once
// The player's messages, grouped by the receiver that understands them. The same
// number means different things to the playback thread and to the player window
// (1224 closes the thread but reports a closed thread to the window), so each
// receiver has its own tags.
#include <cstdint>
#include <string>

#include "platform/message.h"

namespace player {

using platform::ThreadMessage;
using platform::WindowMessage;
using platform::WM_USER;

// The edits the playback thread runs.
enum class EditOp { Extract = 1, Remove = 2, Append = 3 };

// The files an edit writes and, for an append, the file joined to the current one.
// An empty output means the user cancelled the choice.
struct EditFiles {
  std::string second;
  std::string output;
};

// To the playback thread (CVideoThread).
namespace to_video_thread {
struct VT_CLOSE : ThreadMessage<WM_USER + 200> {};       // close the file and end the thread
struct VT_OPEN : ThreadMessage<WM_USER + 201> {};        // posted by the thread to itself at start
struct VT_PLAY_PAUSE : ThreadMessage<WM_USER + 202> {};  // toggle playing
struct VT_SEEK : ThreadMessage<WM_USER + 203> {};        // wParam fraction 0..86400
struct VT_SET_DELAY : ThreadMessage<WM_USER + 204> {};   // wParam milliseconds
struct VT_PREV_FRAME : ThreadMessage<WM_USER + 205> {};  // stop and show the previous frame
struct VT_NEXT_FRAME : ThreadMessage<WM_USER + 206> {};  // stop and show the next frame
struct VT_MARK_START : ThreadMessage<WM_USER + 207> {};  // start mark = start of the frame on view
struct VT_MARK_END : ThreadMessage<WM_USER + 208> {};    // end mark = end of the frame on view
// The three edits. Without a payload the thread checks the marks and opens the
// current file, then asks the main window for the files (PLAYER_CHOOSE_FILES); with
// one it goes straight on with those files.
struct VT_EXTRACT : ThreadMessage<WM_USER + 209, EditFiles> {};
struct VT_REMOVE : ThreadMessage<WM_USER + 210, EditFiles> {};
struct VT_APPEND : ThreadMessage<WM_USER + 211, EditFiles> {};
struct VT_CANCEL_EDIT : ThreadMessage<WM_USER + 213> {};  // end the copy in progress
// The player's own additions, above the design's numbers:
// the window's answer to PLAYER_CHOOSE_FILES (wParam the EditOp asked about),
struct VT_FILES_CHOSEN : ThreadMessage<WM_USER + 216, EditFiles> {};
// and the next slice of a copy, posted by the thread to itself so that the
// messages waiting meanwhile are handled first.
struct VT_COPY_STEP : ThreadMessage<WM_USER + 217> {};
// End the copy in progress and keep nothing of it (the command line on SIGINT or
// SIGTERM); an old file at the output stays as it was.
struct VT_ABORT_EDIT : ThreadMessage<WM_USER + 218> {};
// The picture has shown a frame it was sent: playback reads the next one only
// when the frames sent before it have been shown (at most two on their way).
struct VT_FRAME_SHOWN : ThreadMessage<WM_USER + 219> {};
// Stop and step wParam frames on, showing only the last (the command line's way
// to a frame number); answered with PLAYER_STEPPED.
struct VT_STEP_FRAMES : ThreadMessage<WM_USER + 220> {};
}  // namespace to_video_thread

// To the player window (CPlayerDlg).
namespace to_player_window {
struct PLAYER_THREAD_CLOSED : WindowMessage<WM_USER + 200> {};  // the playback thread ended
// wParam notice code (editing.h); the payload says why: the path and the system's words, or ""
struct PLAYER_NOTICE : WindowMessage<WM_USER + 212, std::string> {};
struct PLAYER_PLAY_STATE : WindowMessage<WM_USER + 214> {};     // wParam 1 playing, 0 stopped
struct PLAYER_CONTEXT_MENU : WindowMessage<WM_USER + 600> {};   // from the picture: show the menu
// The player's own additions: a copy started (wParam 1: disable the window, show
// the progress dialog) or finished (0: hide it, enable the window),
struct PLAYER_COPYING : WindowMessage<WM_USER + 215> {};
// and the thread asks for an edit's files (wParam the EditOp); the window answers
// with VT_FILES_CHOSEN.
struct PLAYER_CHOOSE_FILES : WindowMessage<WM_USER + 216> {};
// The shutdown thread has stopped every playback thread; the window may end.
struct PLAYER_STOPPED_ALL : WindowMessage<WM_USER + 217> {};
// The answer to VT_STEP_FRAMES: wParam the frames stepped, fewer when the file ended.
struct PLAYER_STEPPED : WindowMessage<WM_USER + 218> {};
}  // namespace to_player_window

// To the controls the thread keeps current: the two status labels, the position
// bar and the edit progress bar. They take the standard text and progress bar
// messages.
namespace to_control {
struct SetText : WindowMessage<0x000C, std::string> {};   // a label's text
struct SetPosition : WindowMessage<WM_USER + 2> {};       // wParam position
struct SetRange32 : WindowMessage<WM_USER + 6> {};        // wParam low, lParam high
}  // namespace to_control

}  // namespace player
