// A stand-in for the system's media session manager (Windows.Media.Control), registered as an
// activatable class in a test prefix: Wine has no such class. The test scripts it through the
// named pipe \\.\pipe\lumara-standin-media-session, one command a connection (see Apply), and
// each change raises the events a real session raises. Every event has been delivered (its
// handlers returned) when the command's answer "ok <unix ms when the change began>" comes back. The
// pipe thread blocks while nothing is asked, so the stand-in adds no wake-ups of its own.
#include <windows.h>

#include <activation.h>
#include <winstring.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "windows.media.control.h"

namespace {

using namespace ABI::Windows::Media::Control;
using namespace ABI::Windows::Foundation;
using ABI::Windows::Foundation::Collections::IVectorView;
using ABI::Windows::Media::MediaPlaybackAutoRepeatMode;
using ABI::Windows::Media::MediaPlaybackType;

constexpr wchar_t kClassName[] =
    L"Windows.Media.Control.GlobalSystemMediaTransportControlsSessionManager";
constexpr wchar_t kPipeName[] = L"\\\\.\\pipe\\lumara-standin-media-session";
constexpr std::int64_t kTicksPerSecond = 10000000;             // TimeSpan and DateTime count 100 ns
constexpr HRESULT kOutOfBounds = HRESULT(0x8000000BL);         // E_BOUNDS
constexpr HRESULT kDelegateAlreadySet = HRESULT(0x80000018L);  // E_ILLEGAL_DELEGATE_ASSIGNMENT

HSTRING MakeString(const std::wstring& text) {
    HSTRING result = nullptr;
    WindowsCreateString(text.c_str(), static_cast<UINT32>(text.size()), &result);
    return result;
}

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), size);
    return wide;
}

std::int64_t NowTicks() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (std::int64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// Reference counting, IInspectable and QueryInterface over the listed interfaces (the first
// one answers for IUnknown and IInspectable). The objects are agile, as the system's are.
template <class First, class... Rest>
class Object : public First, public Rest... {
  public:
    virtual ~Object() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable) ||
            iid == __uuidof(IAgileObject) || iid == __uuidof(First)) {
            *out = static_cast<First*>(this);
        } else {
            (void)((iid == __uuidof(Rest) ? (*out = static_cast<Rest*>(this), true) : false) ||
                   ...);
        }
        if (*out == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --refs_;
        if (left == 0) delete this;
        return ULONG(left);
    }
    HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {
        *count = 0;
        *iids = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override {
        *name = MakeString(L"Lumara.StandIn");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {
        *level = BaseTrust;
        return S_OK;
    }

  private:
    std::atomic<long> refs_{1};
};

template <class T>
T* Out(T* object, T** out) {
    *out = object;
    return object;
}

// ---- the scripted state

struct SessionState {
    std::wstring app;
    std::wstring artist, title;
    MediaPlaybackType type = ABI::Windows::Media::MediaPlaybackType_Music;
    GlobalSystemMediaTransportControlsSessionPlaybackStatus status =
        GlobalSystemMediaTransportControlsSessionPlaybackStatus_Opened;
    MediaPlaybackAutoRepeatMode repeat = ABI::Windows::Media::MediaPlaybackAutoRepeatMode_None;
    std::int64_t position = 0, end = 0, updated = 0;
    bool failMedia = false;
};

class Session;
std::mutex g_lock;
std::map<int, SessionState> g_states;  // GUARDED_BY(g_lock)
std::map<int, Session*> g_sessions;    // GUARDED_BY(g_lock): the open ones, one reference each
int g_current = 0;                     // GUARDED_BY(g_lock)

SessionState StateOf(int id) {
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = g_states.find(id);
    return it == g_states.end() ? SessionState{} : it->second;
}

// Handlers of one event, by token.
template <class Handler>
class EventList {
  public:
    HRESULT Add(Handler* handler, EventRegistrationToken* token) {
        if (handler == nullptr) return E_INVALIDARG;
        std::lock_guard<std::mutex> hold(lock_);
        handler->AddRef();
        token->value = ++next_;
        handlers_[token->value] = handler;
        return S_OK;
    }
    HRESULT Remove(EventRegistrationToken token) {
        Handler* handler = nullptr;
        {
            std::lock_guard<std::mutex> hold(lock_);
            auto it = handlers_.find(token.value);
            if (it == handlers_.end()) return S_OK;
            handler = it->second;
            handlers_.erase(it);
        }
        handler->Release();
        return S_OK;
    }
    // Calls every handler outside the lock (a handler may register or remove handlers).
    template <class Sender, class Args>
    void Raise(Sender* sender, Args* args) {
        std::vector<Handler*> handlers;
        {
            std::lock_guard<std::mutex> hold(lock_);
            for (auto& entry : handlers_) {
                entry.second->AddRef();
                handlers.push_back(entry.second);
            }
        }
        for (Handler* handler : handlers) {
            handler->Invoke(sender, args);
            handler->Release();
        }
    }

  private:
    std::mutex lock_;
    std::map<INT64, Handler*> handlers_;  // GUARDED_BY(lock_)
    INT64 next_ = 0;                      // GUARDED_BY(lock_)
};

// ---- values and snapshots

template <class T, class Iface>
class Reference final : public Object<Iface> {
  public:
    explicit Reference(T value) : value_(value) {}
    HRESULT STDMETHODCALLTYPE get_Value(T* value) override {
        *value = value_;
        return S_OK;
    }

  private:
    T value_;
};
using TypeReference = Reference<MediaPlaybackType, __FIReference_1_MediaPlaybackType>;
using RepeatReference =
    Reference<MediaPlaybackAutoRepeatMode, __FIReference_1_MediaPlaybackAutoRepeatMode>;

class MediaProperties final
    : public Object<IGlobalSystemMediaTransportControlsSessionMediaProperties> {
  public:
    explicit MediaProperties(const SessionState& s) : s_(s) {}
    HRESULT STDMETHODCALLTYPE get_Title(HSTRING* v) override { return Text(s_.title, v); }
    HRESULT STDMETHODCALLTYPE get_Subtitle(HSTRING* v) override { return Text(L"", v); }
    HRESULT STDMETHODCALLTYPE get_AlbumArtist(HSTRING* v) override { return Text(L"", v); }
    HRESULT STDMETHODCALLTYPE get_Artist(HSTRING* v) override { return Text(s_.artist, v); }
    HRESULT STDMETHODCALLTYPE get_AlbumTitle(HSTRING* v) override { return Text(L"", v); }
    HRESULT STDMETHODCALLTYPE get_TrackNumber(INT32* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Genres(IVectorView<HSTRING>** v) override {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_AlbumTrackCount(INT32* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_PlaybackType(IReference<MediaPlaybackType>** v) override {
        Out<IReference<MediaPlaybackType>>(new TypeReference(s_.type), v);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Thumbnail(IInspectable** v) override {
        return *v = nullptr, S_OK;
    }

  private:
    static HRESULT Text(const std::wstring& text, HSTRING* out) {
        *out = MakeString(text);
        return S_OK;
    }
    SessionState s_;
};

class PlaybackInfo final : public Object<IGlobalSystemMediaTransportControlsSessionPlaybackInfo> {
  public:
    explicit PlaybackInfo(const SessionState& s) : s_(s) {}
    HRESULT STDMETHODCALLTYPE
    get_Controls(IGlobalSystemMediaTransportControlsSessionPlaybackControls** v) override {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    get_PlaybackStatus(GlobalSystemMediaTransportControlsSessionPlaybackStatus* v) override {
        return *v = s_.status, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_PlaybackType(IReference<MediaPlaybackType>** v) override {
        Out<IReference<MediaPlaybackType>>(new TypeReference(s_.type), v);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    get_AutoRepeatMode(IReference<MediaPlaybackAutoRepeatMode>** v) override {
        Out<IReference<MediaPlaybackAutoRepeatMode>>(new RepeatReference(s_.repeat), v);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_PlaybackRate(IReference<DOUBLE>** v) override {
        return *v = nullptr, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsShuffleActive(IReference<boolean>** v) override {
        return *v = nullptr, S_OK;
    }

  private:
    SessionState s_;
};

class TimelineProperties final
    : public Object<IGlobalSystemMediaTransportControlsSessionTimelineProperties> {
  public:
    explicit TimelineProperties(const SessionState& s) : s_(s) {}
    HRESULT STDMETHODCALLTYPE get_StartTime(TimeSpan* v) override { return Span(0, v); }
    HRESULT STDMETHODCALLTYPE get_EndTime(TimeSpan* v) override { return Span(s_.end, v); }
    HRESULT STDMETHODCALLTYPE get_MinSeekTime(TimeSpan* v) override { return Span(0, v); }
    HRESULT STDMETHODCALLTYPE get_MaxSeekTime(TimeSpan* v) override { return Span(s_.end, v); }
    HRESULT STDMETHODCALLTYPE get_Position(TimeSpan* v) override { return Span(s_.position, v); }
    HRESULT STDMETHODCALLTYPE get_LastUpdatedTime(DateTime* v) override {
        v->UniversalTime = s_.updated;
        return S_OK;
    }

  private:
    static HRESULT Span(std::int64_t ticks, TimeSpan* out) {
        out->Duration = ticks;
        return S_OK;
    }
    SessionState s_;
};

// An operation that is complete when it is handed out: its handler runs as it is set.
template <class Iface, class Handler, class Result>
class DoneOperation final : public Object<Iface, IAsyncInfo> {
  public:
    DoneOperation(Result* result, HRESULT error) : result_(result), error_(error) {}
    ~DoneOperation() override {
        if (result_ != nullptr) result_->Release();
        if (handler_ != nullptr) handler_->Release();
    }
    HRESULT STDMETHODCALLTYPE put_Completed(Handler* handler) override {
        if (handler == nullptr) return E_INVALIDARG;
        if (handler_ != nullptr) return kDelegateAlreadySet;
        handler_ = handler;
        handler_->AddRef();
        handler->Invoke(this, FAILED(error_) ? Error : Completed);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Completed(Handler** handler) override {
        if (handler_ != nullptr) handler_->AddRef();
        *handler = handler_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetResults(Result** results) override {
        *results = nullptr;
        if (FAILED(error_)) return error_;
        result_->AddRef();
        *results = result_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Id(UINT32* id) override { return *id = 1, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus* status) override {
        *status = FAILED(error_) ? Error : Completed;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) override {
        *code = FAILED(error_) ? error_ : S_OK;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

  private:
    Result* result_;
    HRESULT error_;
    Handler* handler_ = nullptr;
};

template <class Iface>
class EventArgs final : public Object<Iface> {};

// ---- sessions and the manager

using TimelineHandler = ITypedEventHandler<GlobalSystemMediaTransportControlsSession*,
                                           TimelinePropertiesChangedEventArgs*>;
using PlaybackHandler =
    ITypedEventHandler<GlobalSystemMediaTransportControlsSession*, PlaybackInfoChangedEventArgs*>;
using MediaHandler = ITypedEventHandler<GlobalSystemMediaTransportControlsSession*,
                                        MediaPropertiesChangedEventArgs*>;
using MediaOperation = IAsyncOperation<GlobalSystemMediaTransportControlsSessionMediaProperties*>;
using MediaCompleted =
    IAsyncOperationCompletedHandler<GlobalSystemMediaTransportControlsSessionMediaProperties*>;

class Session final : public Object<IGlobalSystemMediaTransportControlsSession> {
  public:
    explicit Session(int id) : id_(id) {}
    HRESULT STDMETHODCALLTYPE get_SourceAppUserModelId(HSTRING* v) override {
        *v = MakeString(StateOf(id_).app);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE TryGetMediaPropertiesAsync(MediaOperation** operation) override {
        const SessionState state = StateOf(id_);
        auto* properties = new MediaProperties(state);
        if (state.failMedia) {
            properties->Release();
            *operation =
                new DoneOperation<MediaOperation, MediaCompleted,
                                  IGlobalSystemMediaTransportControlsSessionMediaProperties>(
                    nullptr, E_FAIL);
        } else {
            *operation =
                new DoneOperation<MediaOperation, MediaCompleted,
                                  IGlobalSystemMediaTransportControlsSessionMediaProperties>(
                    properties, S_OK);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTimelineProperties(
        IGlobalSystemMediaTransportControlsSessionTimelineProperties** r) override {
        *r = new TimelineProperties(StateOf(id_));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    GetPlaybackInfo(IGlobalSystemMediaTransportControlsSessionPlaybackInfo** r) override {
        *r = new PlaybackInfo(StateOf(id_));
        return S_OK;
    }
#define STANDIN_NOT_USED(name)                                               \
    HRESULT STDMETHODCALLTYPE name(IAsyncOperation<boolean>** op) override { \
        return *op = nullptr, E_NOTIMPL;                                     \
    }
    STANDIN_NOT_USED(TryPlayAsync)
    STANDIN_NOT_USED(TryPauseAsync)
    STANDIN_NOT_USED(TryStopAsync)
    STANDIN_NOT_USED(TryRecordAsync)
    STANDIN_NOT_USED(TryFastForwardAsync)
    STANDIN_NOT_USED(TryRewindAsync)
    STANDIN_NOT_USED(TrySkipNextAsync)
    STANDIN_NOT_USED(TrySkipPreviousAsync)
    STANDIN_NOT_USED(TryChangeChannelUpAsync)
    STANDIN_NOT_USED(TryChangeChannelDownAsync)
    STANDIN_NOT_USED(TryTogglePlayPauseAsync)
#undef STANDIN_NOT_USED
    HRESULT STDMETHODCALLTYPE TryChangeAutoRepeatModeAsync(MediaPlaybackAutoRepeatMode,
                                                           IAsyncOperation<boolean>** op) override {
        return *op = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TryChangePlaybackRateAsync(DOUBLE,
                                                         IAsyncOperation<boolean>** op) override {
        return *op = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TryChangeShuffleActiveAsync(boolean,
                                                          IAsyncOperation<boolean>** op) override {
        return *op = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    TryChangePlaybackPositionAsync(INT64, IAsyncOperation<boolean>** op) override {
        return *op = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_TimelinePropertiesChanged(TimelineHandler* h,
                                                            EventRegistrationToken* t) override {
        return timeline.Add(h, t);
    }
    HRESULT STDMETHODCALLTYPE remove_TimelinePropertiesChanged(EventRegistrationToken t) override {
        return timeline.Remove(t);
    }
    HRESULT STDMETHODCALLTYPE add_PlaybackInfoChanged(PlaybackHandler* h,
                                                      EventRegistrationToken* t) override {
        return playback.Add(h, t);
    }
    HRESULT STDMETHODCALLTYPE remove_PlaybackInfoChanged(EventRegistrationToken t) override {
        return playback.Remove(t);
    }
    HRESULT STDMETHODCALLTYPE add_MediaPropertiesChanged(MediaHandler* h,
                                                         EventRegistrationToken* t) override {
        return media.Add(h, t);
    }
    HRESULT STDMETHODCALLTYPE remove_MediaPropertiesChanged(EventRegistrationToken t) override {
        return media.Remove(t);
    }

    EventList<TimelineHandler> timeline;
    EventList<PlaybackHandler> playback;
    EventList<MediaHandler> media;

  private:
    const int id_;
};

using SessionList = IVectorView<GlobalSystemMediaTransportControlsSession*>;

class SessionView final : public Object<SessionList> {
  public:
    explicit SessionView(std::vector<Session*> items) : items_(std::move(items)) {}
    ~SessionView() override {
        for (Session* s : items_) s->Release();
    }
    HRESULT STDMETHODCALLTYPE GetAt(UINT32 index,
                                    IGlobalSystemMediaTransportControlsSession** v) override {
        if (index >= items_.size()) return *v = nullptr, kOutOfBounds;
        items_[index]->AddRef();
        *v = items_[index];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Size(UINT32* size) override {
        return *size = UINT32(items_.size()), S_OK;
    }
    HRESULT STDMETHODCALLTYPE IndexOf(IGlobalSystemMediaTransportControlsSession* value,
                                      UINT32* index, BOOLEAN* found) override {
        *found = FALSE;
        *index = 0;
        for (UINT32 i = 0; i < items_.size(); ++i) {
            if (items_[i] == value) {
                *found = TRUE;
                *index = i;
                break;
            }
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMany(UINT32 start, UINT32 size,
                                      IGlobalSystemMediaTransportControlsSession** items,
                                      UINT32* count) override {
        *count = 0;
        for (UINT32 i = start; i < items_.size() && *count < size; ++i) {
            items_[i]->AddRef();
            items[(*count)++] = items_[i];
        }
        return S_OK;
    }

  private:
    std::vector<Session*> items_;
};

using CurrentHandler = ITypedEventHandler<GlobalSystemMediaTransportControlsSessionManager*,
                                          CurrentSessionChangedEventArgs*>;
using SessionsHandler = ITypedEventHandler<GlobalSystemMediaTransportControlsSessionManager*,
                                           SessionsChangedEventArgs*>;

class Manager final : public Object<IGlobalSystemMediaTransportControlsSessionManager> {
  public:
    HRESULT STDMETHODCALLTYPE
    GetCurrentSession(IGlobalSystemMediaTransportControlsSession** result) override {
        std::lock_guard<std::mutex> hold(g_lock);
        auto it = g_sessions.find(g_current);
        *result = it == g_sessions.end() ? nullptr : it->second;
        if (*result != nullptr) (*result)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSessions(SessionList** result) override {
        std::vector<Session*> items;
        std::lock_guard<std::mutex> hold(g_lock);
        for (auto& entry : g_sessions) {
            entry.second->AddRef();
            items.push_back(entry.second);
        }
        *result = new SessionView(std::move(items));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_CurrentSessionChanged(CurrentHandler* h,
                                                        EventRegistrationToken* t) override {
        return current.Add(h, t);
    }
    HRESULT STDMETHODCALLTYPE remove_CurrentSessionChanged(EventRegistrationToken t) override {
        return current.Remove(t);
    }
    HRESULT STDMETHODCALLTYPE add_SessionsChanged(SessionsHandler* h,
                                                  EventRegistrationToken* t) override {
        return sessions.Add(h, t);
    }
    HRESULT STDMETHODCALLTYPE remove_SessionsChanged(EventRegistrationToken t) override {
        return sessions.Remove(t);
    }

    EventList<CurrentHandler> current;
    EventList<SessionsHandler> sessions;
};

Manager* g_manager = nullptr;  // one for the process, created with the factory, never freed

using ManagerOperation = IAsyncOperation<GlobalSystemMediaTransportControlsSessionManager*>;
using ManagerCompleted =
    IAsyncOperationCompletedHandler<GlobalSystemMediaTransportControlsSessionManager*>;

class Factory final
    : public Object<IActivationFactory, IGlobalSystemMediaTransportControlsSessionManagerStatics> {
  public:
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
        return *instance = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RequestAsync(ManagerOperation** operation) override {
        g_manager->AddRef();
        *operation =
            new DoneOperation<ManagerOperation, ManagerCompleted,
                              IGlobalSystemMediaTransportControlsSessionManager>(g_manager, S_OK);
        return S_OK;
    }
};

// ---- the script

template <class Args, class Handler, class Sender>
void RaiseOn(EventList<Handler>& list, Sender* sender) {
    auto* args = new EventArgs<Args>();
    list.Raise(sender, args);
    args->Release();
}

Session* SessionFor(int id) {
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = g_sessions.find(id);
    if (it == g_sessions.end()) return nullptr;
    it->second->AddRef();
    return it->second;
}

// Commands (ids are small numbers chosen by the test; times in seconds):
//   appear ID APP            a session opens (the first one also becomes current)
//   media ID music|video ARTIST|TITLE
//   status ID opened|changing|stopped|playing|paused
//   position ID SECONDS END  the timeline, updated now
//   repeat ID none|track|list
//   current ID               the system's current session (0: none)
//   close ID                 the session closes and leaves the list
//   fail-media ID 0|1        its media properties' operation fails
// Returns false for a command it does not know.
bool Apply(const std::string& line) {
    std::istringstream in(line);
    std::string verb, word;
    int id = 0;
    in >> verb >> id;
    std::getline(in >> std::ws, word);
    Session* session = SessionFor(id);
    auto edit = [&](auto change) {
        std::lock_guard<std::mutex> hold(g_lock);
        change(g_states[id]);
    };
    bool known = true;
    if (verb == "appear" && session == nullptr) {
        bool first = false;
        {
            std::lock_guard<std::mutex> hold(g_lock);
            g_states[id] = SessionState{};
            g_states[id].app = Widen(word);
            g_sessions[id] = new Session(id);
            first = g_current == 0;
            if (first) g_current = id;
        }
        RaiseOn<ISessionsChangedEventArgs>(g_manager->sessions, g_manager);
        if (first) RaiseOn<ICurrentSessionChangedEventArgs>(g_manager->current, g_manager);
    } else if (verb == "current") {
        {
            std::lock_guard<std::mutex> hold(g_lock);
            g_current = id;
        }
        RaiseOn<ICurrentSessionChangedEventArgs>(g_manager->current, g_manager);
    } else if (session == nullptr) {
        known = false;
    } else if (verb == "media") {
        const std::size_t bar = word.find('|');
        const std::string type = word.substr(0, word.find(' '));
        const std::size_t text = type.size() + 1;
        edit([&](SessionState& s) {
            s.type = type == "video" ? ABI::Windows::Media::MediaPlaybackType_Video
                                     : ABI::Windows::Media::MediaPlaybackType_Music;
            s.artist = Widen(bar == std::string::npos ? "" : word.substr(text, bar - text));
            s.title = Widen(bar == std::string::npos ? word.substr(text) : word.substr(bar + 1));
        });
        RaiseOn<IMediaPropertiesChangedEventArgs>(session->media, session);
    } else if (verb == "status") {
        const std::map<std::string, GlobalSystemMediaTransportControlsSessionPlaybackStatus> names =
            {{"opened", GlobalSystemMediaTransportControlsSessionPlaybackStatus_Opened},
             {"changing", GlobalSystemMediaTransportControlsSessionPlaybackStatus_Changing},
             {"stopped", GlobalSystemMediaTransportControlsSessionPlaybackStatus_Stopped},
             {"playing", GlobalSystemMediaTransportControlsSessionPlaybackStatus_Playing},
             {"paused", GlobalSystemMediaTransportControlsSessionPlaybackStatus_Paused}};
        auto it = names.find(word);
        known = it != names.end();
        if (known) {
            edit([&](SessionState& s) { s.status = it->second; });
            RaiseOn<IPlaybackInfoChangedEventArgs>(session->playback, session);
        }
    } else if (verb == "position") {
        double seconds = 0, end = 0;
        std::istringstream(word) >> seconds >> end;
        edit([&](SessionState& s) {
            s.position = std::int64_t(seconds * kTicksPerSecond);
            s.end = std::int64_t(end * kTicksPerSecond);
            s.updated = NowTicks();
        });
        RaiseOn<ITimelinePropertiesChangedEventArgs>(session->timeline, session);
    } else if (verb == "repeat") {
        edit([&](SessionState& s) {
            s.repeat = word == "track"  ? ABI::Windows::Media::MediaPlaybackAutoRepeatMode_Track
                       : word == "list" ? ABI::Windows::Media::MediaPlaybackAutoRepeatMode_List
                                        : ABI::Windows::Media::MediaPlaybackAutoRepeatMode_None;
        });
        RaiseOn<IPlaybackInfoChangedEventArgs>(session->playback, session);
    } else if (verb == "fail-media") {
        edit([&](SessionState& s) { s.failMedia = word == "1"; });
    } else if (verb == "close") {
        bool wasCurrent = false;
        edit([&](SessionState& s) {
            s.status = GlobalSystemMediaTransportControlsSessionPlaybackStatus_Closed;
        });
        RaiseOn<IPlaybackInfoChangedEventArgs>(session->playback, session);
        {
            std::lock_guard<std::mutex> hold(g_lock);
            g_sessions.erase(id);
            wasCurrent = g_current == id;
            if (wasCurrent) g_current = g_sessions.empty() ? 0 : g_sessions.begin()->first;
        }
        session->Release();  // the list's reference
        RaiseOn<ISessionsChangedEventArgs>(g_manager->sessions, g_manager);
        if (wasCurrent) RaiseOn<ICurrentSessionChangedEventArgs>(g_manager->current, g_manager);
    } else {
        known = false;
    }
    if (session != nullptr) session->Release();
    return known;
}

DWORD WINAPI ScriptThread(void*) {
    // The next instance is made before a command is served, so that the pipe never goes missing.
    auto create = [] {
        return CreateNamedPipeW(kPipeName, PIPE_ACCESS_DUPLEX,
                                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    };
    HANDLE next = create();
    while (next != INVALID_HANDLE_VALUE) {
        HANDLE pipe = next;
        const bool connected =
            ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
        next = create();
        char buffer[1024];
        DWORD got = 0;
        std::string line;
        while (connected && line.find('\n') == std::string::npos &&
               ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            line.append(buffer, got);
        }
        if (connected) {
            line = line.substr(0, line.find('\n'));
            const std::int64_t unixMs = NowTicks() / 10000 - 11644473600000LL;
            const bool ok = Apply(line);
            char answer[64];
            const int size = std::snprintf(answer, sizeof answer, "%s %lld\n",
                                           ok ? "ok" : "unknown", static_cast<long long>(unixMs));
            DWORD written = 0;
            WriteFile(pipe, answer, DWORD(size), &written, nullptr);
            FlushFileBuffers(pipe);
        }
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
    }
    return 1;
}

std::once_flag g_started;

}  // namespace

extern "C" HRESULT WINAPI DllGetActivationFactory(HSTRING class_id, IActivationFactory** factory) {
    if (factory == nullptr) return E_POINTER;
    *factory = nullptr;
    if (std::wcscmp(WindowsGetStringRawBuffer(class_id, nullptr), kClassName) != 0) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    std::call_once(g_started, [] {
        g_manager = new Manager();
        HANDLE thread = CreateThread(nullptr, 0, ScriptThread, nullptr, 0, nullptr);
        if (thread != nullptr) CloseHandle(thread);
    });
    *factory = new Factory();
    return S_OK;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return S_FALSE;  // the script thread runs for the life of the process
}
