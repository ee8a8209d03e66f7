#include "tools/nowplaying/media_sessions_win32.h"

#include <roapi.h>
#include <winstring.h>

#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "common/debug_print.h"
#include "common/mutex.h"
#include "common/pipe_text.h"
#include "common/thread_annotations.h"
#include "common/win_handles_win32.h"
#include "windows.media.control.h"

namespace zelk {

namespace wf = ABI::Windows::Foundation;
namespace wmc = ABI::Windows::Media::Control;

namespace {

constexpr wchar_t kManagerClass[] =
    L"Windows.Media.Control.GlobalSystemMediaTransportControlsSessionManager";

// A COM reference, released once.
template <typename T>
class Ref {
  public:
    Ref() = default;
    ~Ref() { Reset(); }
    Ref(const Ref& other) : p_(other.p_) {
        if (p_ != nullptr) p_->AddRef();
    }
    Ref& operator=(Ref other) {
        std::swap(p_, other.p_);
        return *this;
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** Receive() {
        Reset();
        return &p_;
    }
    void Reset() {
        if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
    }

  private:
    T* p_ = nullptr;
};

// The combase functions, looked up at run time: Windows 7 and 8 have no (or not all of) them.
struct Runtime {
    HMODULE module = nullptr;
    HRESULT(WINAPI* roInitialize)(RO_INIT_TYPE) = nullptr;
    void(WINAPI* roUninitialize)() = nullptr;
    HRESULT(WINAPI* getFactory)(HSTRING, REFIID, void**) = nullptr;
    HRESULT(WINAPI* createString)(const WCHAR*, UINT32, HSTRING*) = nullptr;
    HRESULT(WINAPI* deleteString)(HSTRING) = nullptr;
    const WCHAR*(WINAPI* rawBuffer)(HSTRING, UINT32*) = nullptr;

    template <typename F>
    bool Find(F& f, const char* name) {
        f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        return f != nullptr;
    }
    bool Load() {
        module = LoadLibraryW(L"combase.dll");
        return module != nullptr && Find(roInitialize, "RoInitialize") &&
               Find(roUninitialize, "RoUninitialize") &&
               Find(getFactory, "RoGetActivationFactory") &&
               Find(createString, "WindowsCreateString") &&
               Find(deleteString, "WindowsDeleteString") &&
               Find(rawBuffer, "WindowsGetStringRawBuffer");
    }
    // Takes (and deletes) an HSTRING that a call returned.
    std::u16string Take(HSTRING text) const {
        UINT32 length = 0;
        const WCHAR* chars = text != nullptr ? rawBuffer(text, &length) : nullptr;
        std::u16string out;
        if (chars != nullptr) out.assign(reinterpret_cast<const char16_t*>(chars), length);
        if (text != nullptr) deleteString(text);
        return out;
    }
};

// One for the process: completion handlers may still read strings after the program let go of
// everything else.
Runtime& TheRuntime() {
    static Runtime runtime;
    return runtime;
}

// The system's threads call Invoke; it forwards to a function that posts work.
template <typename Iface, typename A, typename B>
class Delegate final : public Iface {
  public:
    Delegate(const IID& iid, std::function<void(A, B)> invoke)
        : iid_(iid), invoke_(std::move(invoke)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid_) ||
            IsEqualIID(riid, IID_IAgileObject)) {
            *out = static_cast<Iface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Invoke(A a, B b) override {
        try {
            invoke_(a, b);
        } catch (...) {
            return E_OUTOFMEMORY;  // nothing crosses back into the system's thread
        }
        return S_OK;
    }

  private:
    ~Delegate() = default;
    const IID iid_;
    std::function<void(A, B)> invoke_;
    std::atomic<ULONG> refs_{1};
};

template <typename Iface, typename A, typename B>
Ref<Iface> MakeDelegate(const IID& iid, std::function<void(A, B)> invoke) {
    Ref<Iface> ref;
    *ref.Receive() = new Delegate<Iface, A, B>(iid, std::move(invoke));
    return ref;
}

using SessionIface = wmc::IGlobalSystemMediaTransportControlsSession;
using ManagerIface = wmc::IGlobalSystemMediaTransportControlsSessionManager;
using MediaProperties = wmc::IGlobalSystemMediaTransportControlsSessionMediaProperties;
using ManagerOp = wf::IAsyncOperation<wmc::GlobalSystemMediaTransportControlsSessionManager*>;
using ManagerDone =
    wf::IAsyncOperationCompletedHandler<wmc::GlobalSystemMediaTransportControlsSessionManager*>;
using MediaOp = wf::IAsyncOperation<wmc::GlobalSystemMediaTransportControlsSessionMediaProperties*>;
using MediaDone = wf::IAsyncOperationCompletedHandler<
    wmc::GlobalSystemMediaTransportControlsSessionMediaProperties*>;
using CurrentChanged =
    wf::ITypedEventHandler<wmc::GlobalSystemMediaTransportControlsSessionManager*,
                           wmc::CurrentSessionChangedEventArgs*>;
using SessionsChanged =
    wf::ITypedEventHandler<wmc::GlobalSystemMediaTransportControlsSessionManager*,
                           wmc::SessionsChangedEventArgs*>;
using MediaChanged = wf::ITypedEventHandler<wmc::GlobalSystemMediaTransportControlsSession*,
                                            wmc::MediaPropertiesChangedEventArgs*>;
using PlaybackChanged = wf::ITypedEventHandler<wmc::GlobalSystemMediaTransportControlsSession*,
                                               wmc::PlaybackInfoChangedEventArgs*>;
using TimelineChanged = wf::ITypedEventHandler<wmc::GlobalSystemMediaTransportControlsSession*,
                                               wmc::TimelinePropertiesChangedEventArgs*>;

template <typename T>
std::optional<int> ValueOf(wf::IReference<T>* reference) {
    if (reference == nullptr) return std::nullopt;
    T value{};
    const HRESULT hr = reference->get_Value(&value);
    reference->Release();
    if (FAILED(hr)) return std::nullopt;
    return static_cast<int>(value);
}

// The address of the object's IUnknown: the same for the same object while it is held.
std::uint64_t IdentityOf(IUnknown* object) {
    IUnknown* unknown = nullptr;
    if (object == nullptr ||
        FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)))) {
        return 0;
    }
    unknown->Release();  // the caller holds the object, and so its identity
    return reinterpret_cast<std::uintptr_t>(unknown);
}

std::int64_t UtcNowTicks() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                     now.dwLowDateTime);
}

enum class Work {
    kManager,      // RequestAsync completed (object: the manager, or none)
    kSessions,     // SessionsChanged
    kCurrent,      // CurrentSessionChanged
    kMedia,        // MediaPropertiesChanged
    kPlayback,     // PlaybackInfoChanged
    kTimeline,     // TimelinePropertiesChanged
    kMediaResult,  // TryGetMediaPropertiesAsync's result (media) or failure (hr)
};

struct WorkItem {
    Work kind = Work::kSessions;
    std::uint64_t identity = 0;  // the session
    std::uint64_t request = 0;   // kMediaResult: which request
    Ref<ManagerIface> manager;   // kManager
    bool ok = true;
    HRESULT hr = S_OK;
    MediaFacts media;
};

WorkItem Item(Work kind, std::uint64_t identity = 0, std::uint64_t request = 0) {
    WorkItem item;
    item.kind = kind;
    item.identity = identity;
    item.request = request;
    return item;
}

}  // namespace

// Work posted by the delegates for the work thread. Shared with the delegates, which may run
// after the program has dropped everything else.
class WorkQueue {
  public:
    WorkQueue() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    void Post(WorkItem item) {
        {
            MutexLock guard(lock_);
            items_.push_back(std::move(item));
        }
        SetEvent(event_.Get());
    }
    std::vector<WorkItem> Take() {
        MutexLock guard(lock_);
        return std::exchange(items_, {});
    }
    HANDLE Event() const { return event_.Get(); }

  private:
    UniqueKernelHandle event_;
    Mutex lock_;
    std::vector<WorkItem> items_ GUARDED_BY(lock_);
};

// One session the program follows: the object, its event registrations and its newest media
// request.
class SessionGlue {
  public:
    Ref<SessionIface> session;
    std::string id;
    EventRegistrationToken media{}, playback{}, timeline{};
    bool subscribed = false;
    std::uint64_t request = 0;
    Ref<MediaOp> pending;
};

struct MediaSessions::State {
    explicit State(NowPlayingCore& c) : core(c), queue(std::make_shared<WorkQueue>()) {}

    NowPlayingCore& core;
    Runtime& rt = TheRuntime();
    bool initialized = false;
    std::shared_ptr<WorkQueue> queue;
    Ref<ManagerOp> managerOp;
    DWORD managerAskedAt = 0;
    Ref<ManagerIface> manager;
    EventRegistrationToken currentToken{}, sessionsToken{};
    bool managerSubscribed = false;
    std::map<std::uint64_t, SessionGlue> sessions;  // by identity
    std::uint64_t requests = 0;
    DWORD lastRefreshAt = GetTickCount() - 1000;  // the list read again for a gone player

    void Trace(const char* call, HRESULT hr, const std::string& id = "manager") {
        core.OnSessionError(id, call, static_cast<std::int32_t>(hr));
        // A session's player went away mid-call: the list tells which sessions remain (read
        // again at most once a second, whatever the list gives).
        const bool gone = hr == RPC_E_DISCONNECTED || hr == RPC_E_SERVER_DIED ||
                          hr == RPC_E_SERVER_DIED_DNE ||
                          hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
        if (gone && id != "manager" && manager && GetTickCount() - lastRefreshAt >= 1000) {
            lastRefreshAt = GetTickCount();
            queue->Post(Item(Work::kSessions));
        }
    }

    void Subscribe(std::uint64_t identity, SessionGlue& glue) {
        std::weak_ptr<WorkQueue> weak = queue;
        auto post = [weak, identity](Work kind) {
            if (auto q = weak.lock()) q->Post(Item(kind, identity));
        };
        auto media = MakeDelegate<MediaChanged, SessionIface*,
                                  wmc::IMediaPropertiesChangedEventArgs*>(
            IID___FITypedEventHandler_2_Windows__CMedia__CControl__CGlobalSystemMediaTransportControlsSession_Windows__CMedia__CControl__CMediaPropertiesChangedEventArgs,
            [post](SessionIface*, wmc::IMediaPropertiesChangedEventArgs*) { post(Work::kMedia); });
        auto playback = MakeDelegate<PlaybackChanged, SessionIface*,
                                     wmc::IPlaybackInfoChangedEventArgs*>(
            IID___FITypedEventHandler_2_Windows__CMedia__CControl__CGlobalSystemMediaTransportControlsSession_Windows__CMedia__CControl__CPlaybackInfoChangedEventArgs,
            [post](SessionIface*, wmc::IPlaybackInfoChangedEventArgs*) { post(Work::kPlayback); });
        auto timeline = MakeDelegate<TimelineChanged, SessionIface*,
                                     wmc::ITimelinePropertiesChangedEventArgs*>(
            IID___FITypedEventHandler_2_Windows__CMedia__CControl__CGlobalSystemMediaTransportControlsSession_Windows__CMedia__CControl__CTimelinePropertiesChangedEventArgs,
            [post](SessionIface*, wmc::ITimelinePropertiesChangedEventArgs*) {
                post(Work::kTimeline);
            });
        HRESULT hr = glue.session->add_MediaPropertiesChanged(media.Get(), &glue.media);
        if (SUCCEEDED(hr))
            hr = glue.session->add_PlaybackInfoChanged(playback.Get(), &glue.playback);
        if (SUCCEEDED(hr))
            hr = glue.session->add_TimelinePropertiesChanged(timeline.Get(), &glue.timeline);
        if (FAILED(hr)) {
            Trace("subscribing", hr, glue.id);
            Unsubscribe(glue);
        }
        glue.subscribed = SUCCEEDED(hr);
        ReadMedia(identity, glue);
        ReadPlayback(glue);
        ReadTimeline(glue);
    }

    static void Unsubscribe(SessionGlue& glue) {
        // Registrations that never happened have a zero token; a gone player fails: both fine.
        if (glue.media.value != 0) glue.session->remove_MediaPropertiesChanged(glue.media);
        if (glue.playback.value != 0) glue.session->remove_PlaybackInfoChanged(glue.playback);
        if (glue.timeline.value != 0) glue.session->remove_TimelinePropertiesChanged(glue.timeline);
        glue.media = glue.playback = glue.timeline = EventRegistrationToken{};
        glue.subscribed = false;
    }

    void ReadMedia(std::uint64_t identity, SessionGlue& glue) {
        glue.pending.Reset();
        const std::uint64_t request = glue.request = ++requests;
        HRESULT hr = glue.session->TryGetMediaPropertiesAsync(glue.pending.Receive());
        if (FAILED(hr) || !glue.pending) {
            Trace("TryGetMediaPropertiesAsync", hr, glue.id);
            return;
        }
        std::weak_ptr<WorkQueue> weak = queue;
        const Runtime* runtime = &rt;
        auto done = MakeDelegate<MediaDone, MediaOp*, AsyncStatus>(
            IID___FIAsyncOperationCompletedHandler_1_Windows__CMedia__CControl__CGlobalSystemMediaTransportControlsSessionMediaProperties,
            [weak, identity, request, runtime](MediaOp* op, AsyncStatus status) {
                WorkItem item = Item(Work::kMediaResult, identity, request);
                item.ok = false;
                item.hr = E_FAIL;
                Ref<MediaProperties> props;
                if (status == Completed && op != nullptr &&
                    SUCCEEDED(item.hr = op->GetResults(props.Receive())) && props) {
                    HSTRING text = nullptr;
                    if (SUCCEEDED(item.hr = props->get_Title(&text))) {
                        item.media.title = runtime->Take(text);
                        text = nullptr;
                        if (SUCCEEDED(props->get_Artist(&text)))
                            item.media.artist = runtime->Take(text);
                        text = nullptr;
                        if (SUCCEEDED(props->get_AlbumArtist(&text))) {
                            item.media.albumArtist = runtime->Take(text);
                        }
                        wf::IReference<ABI::Windows::Media::MediaPlaybackType>* type = nullptr;
                        if (SUCCEEDED(props->get_PlaybackType(&type)))
                            item.media.playbackType = ValueOf(type);
                        item.ok = true;
                    }
                } else if (status != Completed) {
                    item.hr = E_FAIL;
                }
                if (auto q = weak.lock()) q->Post(std::move(item));
            });
        hr = glue.pending->put_Completed(done.Get());
        if (FAILED(hr)) {
            Trace("TryGetMediaPropertiesAsync completion", hr, glue.id);
            glue.pending.Reset();
        }
    }

    void ReadPlayback(SessionGlue& glue) {
        Ref<wmc::IGlobalSystemMediaTransportControlsSessionPlaybackInfo> info;
        HRESULT hr = glue.session->GetPlaybackInfo(info.Receive());
        PlaybackFacts facts;
        wmc::GlobalSystemMediaTransportControlsSessionPlaybackStatus status{};
        if (SUCCEEDED(hr) && info) hr = info->get_PlaybackStatus(&status);
        if (FAILED(hr) || !info) {
            Trace("GetPlaybackInfo", hr, glue.id);
            return;
        }
        facts.status = static_cast<int>(status);
        wf::IReference<ABI::Windows::Media::MediaPlaybackType>* type = nullptr;
        if (SUCCEEDED(info->get_PlaybackType(&type))) facts.playbackType = ValueOf(type);
        wf::IReference<ABI::Windows::Media::MediaPlaybackAutoRepeatMode>* repeat = nullptr;
        if (SUCCEEDED(info->get_AutoRepeatMode(&repeat))) facts.repeatMode = ValueOf(repeat);
        core.OnPlayback(glue.id, facts);
    }

    void ReadTimeline(SessionGlue& glue) {
        Ref<wmc::IGlobalSystemMediaTransportControlsSessionTimelineProperties> timeline;
        HRESULT hr = glue.session->GetTimelineProperties(timeline.Receive());
        wf::TimeSpan start{}, end{}, position{};
        wf::DateTime updated{};
        if (SUCCEEDED(hr) && timeline) hr = timeline->get_StartTime(&start);
        if (SUCCEEDED(hr) && timeline) hr = timeline->get_EndTime(&end);
        if (SUCCEEDED(hr) && timeline) hr = timeline->get_Position(&position);
        if (SUCCEEDED(hr) && timeline) hr = timeline->get_LastUpdatedTime(&updated);
        if (FAILED(hr) || !timeline) {
            Trace("GetTimelineProperties", hr, glue.id);
            return;
        }
        core.OnTimeline(
            glue.id,
            TimelineFacts{start.Duration, end.Duration, position.Duration, updated.UniversalTime},
            UtcNowTicks());
    }

    void Follow(const SessionTable::Entry& entry, Ref<SessionIface> session) {
        SessionGlue& glue = sessions[entry.identity];
        glue.session = std::move(session);
        glue.id = entry.id;
        Subscribe(entry.identity, glue);
    }

    void Drop(std::uint64_t identity) {
        const auto it = sessions.find(identity);
        if (it == sessions.end()) return;
        Unsubscribe(it->second);
        sessions.erase(it);
    }

    void ReadSessions() {
        Ref<wf::Collections::IVectorView<wmc::GlobalSystemMediaTransportControlsSession*>> view;
        HRESULT hr = manager->GetSessions(view.Receive());
        UINT32 count = 0;
        if (SUCCEEDED(hr) && view) hr = view->get_Size(&count);
        if (FAILED(hr) || !view) {
            Trace("GetSessions", hr);
            return;
        }
        std::vector<SessionKey> keys;
        std::map<std::uint64_t, Ref<SessionIface>> objects;
        for (UINT32 i = 0; i < count && i < 256; ++i) {
            Ref<SessionIface> session;
            if (FAILED(hr = view->GetAt(i, session.Receive())) || !session) {
                Trace("GetSessions item", hr);
                continue;
            }
            HSTRING app = nullptr;
            if (FAILED(hr = session->get_SourceAppUserModelId(&app))) {
                Trace("SourceAppUserModelId", hr);
                continue;
            }
            const std::uint64_t identity = IdentityOf(session.Get());
            keys.push_back(SessionKey{identity, Utf16ToUtf8(rt.Take(app))});
            objects[identity] = session;
        }
        const SessionTable::Changes changes = core.SetSessions(keys);
        for (const SessionTable::Entry& gone : changes.removed) Drop(gone.identity);
        for (const auto& [old, entry] : changes.rebound) {
            Drop(old);
            Follow(entry, objects[entry.identity]);
        }
        for (const SessionTable::Entry& entry : changes.added)
            Follow(entry, objects[entry.identity]);
    }

    void ReadCurrent() {
        Ref<SessionIface> session;
        HRESULT hr = manager->GetCurrentSession(session.Receive());
        if (FAILED(hr)) {
            Trace("GetCurrentSession", hr);
            return;
        }
        if (!session) {
            core.SetCurrent(std::nullopt);
            return;
        }
        HSTRING app = nullptr;
        if (FAILED(hr = session->get_SourceAppUserModelId(&app))) {
            Trace("SourceAppUserModelId", hr);
            return;
        }
        const SessionKey key{IdentityOf(session.Get()), Utf16ToUtf8(rt.Take(app))};
        if (const auto added = core.SetCurrent(key)) {
            Follow(SessionTable::Entry{key.identity, key.appId, *added}, session);
        }
    }

    bool OnManager(WorkItem& item, std::string* why) {
        managerOp.Reset();
        if (!item.manager) {
            *why = "RequestAsync failed";
            return false;
        }
        manager = item.manager;
        std::weak_ptr<WorkQueue> weak = queue;
        auto current = MakeDelegate<CurrentChanged, ManagerIface*,
                                    wmc::ICurrentSessionChangedEventArgs*>(
            IID___FITypedEventHandler_2_Windows__CMedia__CControl__CGlobalSystemMediaTransportControlsSessionManager_Windows__CMedia__CControl__CCurrentSessionChangedEventArgs,
            [weak](ManagerIface*, wmc::ICurrentSessionChangedEventArgs*) {
                if (auto q = weak.lock()) q->Post(Item(Work::kCurrent));
            });
        auto list = MakeDelegate<SessionsChanged, ManagerIface*, wmc::ISessionsChangedEventArgs*>(
            IID___FITypedEventHandler_2_Windows__CMedia__CControl__CGlobalSystemMediaTransportControlsSessionManager_Windows__CMedia__CControl__CSessionsChangedEventArgs,
            [weak](ManagerIface*, wmc::ISessionsChangedEventArgs*) {
                if (auto q = weak.lock()) q->Post(Item(Work::kSessions));
            });
        HRESULT hr = manager->add_CurrentSessionChanged(current.Get(), &currentToken);
        if (SUCCEEDED(hr)) hr = manager->add_SessionsChanged(list.Get(), &sessionsToken);
        if (FAILED(hr)) {
            Trace("subscribing to the manager", hr);
            *why = "the session manager takes no event handlers";
            return false;
        }
        managerSubscribed = true;
        DebugPrint("LumaraNowPlaying: following the media sessions\n");
        ReadSessions();
        ReadCurrent();
        return true;
    }

    void OnItem(WorkItem& item) {
        if (item.kind == Work::kSessions) return ReadSessions();
        if (item.kind == Work::kCurrent) return ReadCurrent();
        const auto it = sessions.find(item.identity);
        if (it == sessions.end()) return;  // a session dropped since
        SessionGlue& glue = it->second;
        switch (item.kind) {
            case Work::kMedia:
                return ReadMedia(item.identity, glue);
            case Work::kPlayback:
                return ReadPlayback(glue);
            case Work::kTimeline:
                return ReadTimeline(glue);
            case Work::kMediaResult:
                if (item.request != glue.request) return;  // a newer request is under way
                glue.pending.Reset();
                if (item.ok) {
                    core.OnMedia(glue.id, item.media);
                } else {
                    Trace("TryGetMediaPropertiesAsync result", item.hr, glue.id);
                }
                return;
            default:
                return;
        }
    }
};

MediaSessions::MediaSessions(NowPlayingCore& core) : state_(std::make_unique<State>(core)) {}

MediaSessions::~MediaSessions() {
    Stop();
}

HANDLE MediaSessions::WorkEvent() const {
    return state_->queue->Event();
}

bool MediaSessions::Start(std::string* why) {
    State& s = *state_;
    if (!s.rt.Load()) {
        *why = "this Windows has no Windows Runtime (combase.dll)";
        return false;
    }
    HRESULT hr = s.rt.roInitialize(RO_INIT_MULTITHREADED);
    if (FAILED(hr)) {
        *why = "RoInitialize failed";
        return false;
    }
    s.initialized = true;
    HSTRING name = nullptr;
    hr = s.rt.createString(kManagerClass, static_cast<UINT32>(wcslen(kManagerClass)), &name);
    if (FAILED(hr)) {
        *why = "WindowsCreateString failed";
        return false;
    }
    Ref<wmc::IGlobalSystemMediaTransportControlsSessionManagerStatics> statics;
    hr = s.rt.getFactory(
        name,
        IID___x_ABI_CWindows_CMedia_CControl_CIGlobalSystemMediaTransportControlsSessionManagerStatics,
        reinterpret_cast<void**>(statics.Receive()));
    s.rt.deleteString(name);
    if (FAILED(hr) || !statics) {
        char text[96];
        wsprintfA(text, "no media session manager class (0x%08lX)", static_cast<unsigned long>(hr));
        *why = text;
        return false;
    }
    hr = statics->RequestAsync(s.managerOp.Receive());
    if (FAILED(hr) || !s.managerOp) {
        *why = "RequestAsync failed";
        return false;
    }
    std::weak_ptr<WorkQueue> weak = s.queue;
    auto done = MakeDelegate<ManagerDone, ManagerOp*, AsyncStatus>(
        IID___FIAsyncOperationCompletedHandler_1_Windows__CMedia__CControl__CGlobalSystemMediaTransportControlsSessionManager,
        [weak](ManagerOp* op, AsyncStatus status) {
            WorkItem item = Item(Work::kManager);
            if (status == Completed && op != nullptr) op->GetResults(item.manager.Receive());
            if (auto q = weak.lock()) q->Post(std::move(item));
        });
    s.managerAskedAt = GetTickCount();
    hr = s.managerOp->put_Completed(done.Get());
    if (FAILED(hr)) {
        *why = "RequestAsync's completion failed";
        return false;
    }
    return true;
}

DWORD MediaSessions::ManagerWaitLeftMs() const {
    const State& s = *state_;
    if (s.manager) return INFINITE;
    const DWORD waited = GetTickCount() - s.managerAskedAt;
    return waited >= kManagerWaitMs ? 0 : kManagerWaitMs - waited;
}

bool MediaSessions::RunPosted(std::string* why) {
    State& s = *state_;
    for (WorkItem& item : s.queue->Take()) {
        if (item.kind == Work::kManager) {
            if (!s.manager && !s.OnManager(item, why)) return false;
        } else if (s.manager) {
            s.OnItem(item);
        }
    }
    if (!s.manager && ManagerWaitLeftMs() == 0) {
        *why = "the session manager did not come (RequestAsync)";
        return false;
    }
    return true;
}

void MediaSessions::Stop() {
    State& s = *state_;
    for (auto& [identity, glue] : s.sessions) State::Unsubscribe(glue);
    s.sessions.clear();
    if (s.manager && s.managerSubscribed) {
        s.manager->remove_CurrentSessionChanged(s.currentToken);
        s.manager->remove_SessionsChanged(s.sessionsToken);
        s.managerSubscribed = false;
    }
    s.manager.Reset();
    s.managerOp.Reset();
    s.queue->Take();  // objects the delegates posted, released while the runtime is up
    if (s.initialized) {
        s.rt.roUninitialize();
        s.initialized = false;
    }
}

}  // namespace zelk
