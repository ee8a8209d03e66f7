// The Windows side of LumaraNowPlaying: the system media sessions (Windows.Media.Control,
// Windows 10 1809 and later) through plain WinRT ABI calls, handing their facts to
// NowPlayingCore.
//
// Threads. Everything here runs on the one work thread (the program's main thread, a
// multithreaded apartment), except the delegates: the system calls them on its own threads, and
// they only post a WorkItem to the WorkQueue (a media properties result is read there first, as
// its completion handler is the one place it is available). The work thread takes the items and
// makes every other call.
//
// Calls, in order:
//   1. combase.dll is loaded and RoInitialize, RoGetActivationFactory, WindowsCreateString,
//      WindowsDeleteString and WindowsGetStringRawBuffer are looked up (missing: "not
//      available", the program ends with 0). RoInitialize(RO_INIT_MULTITHREADED).
//   2. RoGetActivationFactory("Windows.Media.Control.GlobalSystemMediaTransportControlsSession
//      Manager", IGlobalSystemMediaTransportControlsSessionManagerStatics) (failure: "not
//      available"), then RequestAsync with a completion handler (put_Completed). The manager
//      must arrive within kManagerWaitMs, else the program ends with 0.
//   3. On the manager: add_CurrentSessionChanged and add_SessionsChanged, then GetSessions and
//      GetCurrentSession as if both events had fired.
//   4. SessionsChanged: GetSessions (get_Size, GetAt); for each session QueryInterface
//      (IUnknown) for its identity and get_SourceAppUserModelId. For a new session:
//      add_MediaPropertiesChanged, add_PlaybackInfoChanged, add_TimelinePropertiesChanged, then
//      it is read as if all three had fired. A session gone: the three remove_ calls.
//   5. CurrentSessionChanged: GetCurrentSession (null: none is current), matched to the list by
//      its object, else by its application (SessionTable::Ensure); get_SourceAppUserModelId.
//   6. MediaPropertiesChanged: TryGetMediaPropertiesAsync and put_Completed; the handler calls
//      GetResults, get_Title, get_Artist, get_AlbumArtist, get_PlaybackType (IReference
//      get_Value). Only the newest request of a session counts.
//   7. PlaybackInfoChanged: GetPlaybackInfo, get_PlaybackStatus, get_PlaybackType,
//      get_AutoRepeatMode (each IReference may be null: unknown).
//   8. TimelinePropertiesChanged: GetTimelineProperties, get_StartTime, get_EndTime,
//      get_Position, get_LastUpdatedTime.
//   9. At the end: every remove_ call, then the objects are released, RoUninitialize.
// A call that fails is traced with its HRESULT and skipped; a session that vanished mid-call
// (RPC_E_DISCONNECTED and the like) is dropped at the next SessionsChanged.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "tools/nowplaying/now_playing_core.h"

namespace zelk {

class WorkQueue;
class SessionGlue;

class MediaSessions {
  public:
    // How long RequestAsync may take to give the manager.
    static constexpr DWORD kManagerWaitMs = 30000;

    explicit MediaSessions(NowPlayingCore& core);
    ~MediaSessions();
    MediaSessions(const MediaSessions&) = delete;
    MediaSessions& operator=(const MediaSessions&) = delete;

    // Steps 1 and 2. False (after one trace and one log line, `why` says what) when this
    // Windows has no media sessions: the program ends with 0.
    bool Start(std::string* why);
    // Signalled when the delegates posted work.
    HANDLE WorkEvent() const;
    // Runs the posted work. False when the program must end (the manager never came).
    bool RunPosted(std::string* why);
    // Milliseconds the manager may still take; INFINITE once it is there.
    DWORD ManagerWaitLeftMs() const;
    // Step 9.
    void Stop();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zelk
