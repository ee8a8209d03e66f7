// The status host's view of Ostrel.dll: everything goes through COM (the registered CLSID, the
// two host interfaces, IDispatch by DISPID) and the pipe, as the media center uses it. Runs under
// Wine from ostrel_wine_test.sh after regsvr32.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/media_status_tags.h"
#include "common/pipe_message.h"
#include "quillon.h"
#include "tests/quillon/pipe_recorder_win32.h"

namespace zelk::test {
namespace {

constexpr std::int32_t kPlay = 0x1001;
constexpr std::int32_t kTrackNumber = 0x2008;
constexpr std::int32_t kTrackName = 0x2019;
constexpr std::int32_t kVolume = 0x200D;

// Owns one COM reference.
template <class T>
class Ref {
  public:
    Ref() = default;
    ~Ref() { Reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T** Out() {
        Reset();
        return &p_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void Reset() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }

  private:
    T* p_ = nullptr;
};

// The debugger output of this process: OutputDebugString raises a first-chance exception
// carrying the text, which a vectored handler reads before the system handles it.
std::vector<std::string> g_traces;

LONG CALLBACK CaptureTrace(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* r = pointers->ExceptionRecord;
    if (r->ExceptionCode == 0x40010006 && r->NumberParameters >= 2) {  // DBG_PRINTEXCEPTION_C
        g_traces.emplace_back(reinterpret_cast<const char*>(r->ExceptionInformation[1]));
    } else if (r->ExceptionCode == 0x4001000A && r->NumberParameters >= 2) {  // ..._WIDE_C
        std::string text;
        for (auto* w = reinterpret_cast<const wchar_t*>(r->ExceptionInformation[1]); *w; ++w) {
            text += static_cast<char>(*w);
        }
        g_traces.push_back(text);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

SAFEARRAY* Tags(std::initializer_list<LONG> tags) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(tags.size()));
    LONG i = 0;
    for (LONG t : tags) SafeArrayPutElement(a, &i, &t), ++i;
    return a;
}

// Takes ownership of the VARIANTs' contents.
SAFEARRAY* Values(std::vector<VARIANT> values) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
    LONG i = 0;
    for (VARIANT& v : values) SafeArrayPutElement(a, &i, &v), VariantClear(&v), ++i;
    return a;
}

VARIANT OfType(VARTYPE type) {
    VARIANT v;
    VariantInit(&v);
    v.vt = type;
    return v;
}
VARIANT Bool(bool b) {
    VARIANT v = OfType(VT_BOOL);
    v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}
VARIANT Int(LONG n) {
    VARIANT v = OfType(VT_I4);
    v.lVal = n;
    return v;
}
VARIANT Text(const std::wstring& s) {
    VARIANT v = OfType(VT_BSTR);
    v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return v;
}

// Calls MediaStatusChange and frees both arrays.
HRESULT Change(IMediaStatusSession* session, SAFEARRAY* tags, SAFEARRAY* values) {
    const HRESULT hr = session->MediaStatusChange(tags, values);
    if (tags != nullptr) SafeArrayDestroy(tags);
    if (values != nullptr) SafeArrayDestroy(values);
    return hr;
}

std::wstring LogPath() {
    wchar_t path[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, path);
    return std::wstring(path, n) + L"zelkmsas.txt";
}

// The log's contents, read while the sink may still hold it for writing.
std::string ReadLog() {
    HANDLE h = CreateFileW(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<no log>";
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(h, buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(h);
    return text;
}

struct Rec {
    std::int32_t session;
    std::int32_t tag;
    std::string text;
    bool operator==(const Rec&) const = default;
};

void PrintTo(const Rec& r, std::ostream* os) {
    *os << "{" << r.session << ", " << r.tag << ", \"" << r.text << "\"}";
}

HRESULT NewSink(Ref<IMediaStatusSink>& sink) {
    return CoCreateInstance(CLSID_StatusSink, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaStatusSink,
                            sink.OutVoid());
}

class SinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_traces.clear();
        DeleteFileW(LogPath().c_str());
    }

    // A new sink with one session whose opening record has been taken off the pipe.
    void Open() {
        ASSERT_EQ(NewSink(sink_), S_OK);
        ASSERT_EQ(sink_->CreateSession(session_.Out()), S_OK);
        ASSERT_EQ(Received(), (std::vector<Rec>{{1, 1, ""}}));
    }

    // Every record that arrived since the last call; each must be one whole record.
    std::vector<Rec> Received() {
        std::vector<Rec> out;
        for (const ReceivedRecord& r : recorder_.Drain()) {
            EXPECT_EQ(r.bytes, kPipeMessageSize);
            out.push_back({r.message.sessionNumber, r.message.tag, TextOf(r.message)});
        }
        return out;
    }

    PipeRecorder recorder_;
    Ref<IMediaStatusSink> sink_;
    Ref<IMediaStatusSession> session_;
};

TEST_F(SinkTest, SessionsAreNumberedPerSinkAndBracketedByTagsOneAndThree) {
    ASSERT_EQ(NewSink(sink_), S_OK);
    EXPECT_EQ(sink_->Initialize(), S_OK);
    EXPECT_EQ(sink_->CreateSession(nullptr), E_POINTER);  // uses no number
    Ref<IMediaStatusSession> second;
    ASSERT_EQ(sink_->CreateSession(session_.Out()), S_OK);
    ASSERT_EQ(sink_->CreateSession(second.Out()), S_OK);
    EXPECT_EQ(session_->Close(), S_OK);
    EXPECT_EQ(second->Close(), S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, 1, ""}, {2, 1, ""}, {1, 3, ""}, {2, 3, ""}}));

    // A closed session still forwards.
    EXPECT_EQ(Change(session_.get(), Tags({kPlay}), Values({Bool(true)})), S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, kPlay, "True"}}));

    // A sink created after the first was destroyed starts again at 1.
    session_.Reset();
    second.Reset();
    ASSERT_NO_FATAL_FAILURE(Open());
}

// Each case runs on the same session, in order: pairs go out in array order, one record each,
// those before a failure stay sent, and malformed arrays are refused before anything is sent.
TEST_F(SinkTest, ChangesAreForwardedPairByPairUntilTheFirstFailure) {
    ASSERT_NO_FATAL_FAILURE(Open());
    SAFEARRAYBOUND twoD[2] = {{2, 0}, {2, 0}};
    const struct {
        const char* name;
        std::function<SAFEARRAY*()> tags;
        std::function<SAFEARRAY*()> values;
        HRESULT result;
        std::vector<Rec> sent;
    } cases[] = {
        {"value texts; any tag goes through",
         [] {
             return Tags({kPlay, kTrackNumber, kTrackName, 0x1000, 5, kVolume});
         },
         [] {
             return Values({Bool(true), Int(7), OfType(VT_EMPTY), Bool(false), Int(-12),
                            Text(L"Blue Train")});
         },
         S_OK,
         {{1, kPlay, "True"},
          {1, kTrackNumber, "7"},
          {1, kTrackName, ""},
          {1, 0x1000, "False"},
          {1, 5, "-12"},
          {1, kVolume, "Blue Train"}}},
        {"values beyond the tags are ignored",
         [] { return Tags({kTrackNumber}); },
         [] {
             return Values({Int(3), Int(4)});
         },
         S_OK,
         {{1, kTrackNumber, "3"}}},
        {"empty change", [] { return Tags({}); }, [] { return Values({}); }, S_OK, {}},
        {"long and embedded NUL texts",
         [] {
             return Tags({kTrackName, kTrackName, kTrackName});
         },
         [] {
             return Values({Text(std::wstring(300, L'x')), Text(std::wstring(255, L'y')),
                            Text(std::wstring(L"ab\0cd", 5))});
         },
         S_OK,
         {{1, kTrackName, std::string(255, 'x')},
          {1, kTrackName, std::string(255, 'y')},
          {1, kTrackName, "ab"}}},
        {"VT_NULL value",
         [] {
             return Tags({kPlay, kTrackNumber, kTrackName});
         },
         [] {
             return Values({Bool(true), OfType(VT_NULL), Text(L"never")});
         },
         DISP_E_TYPEMISMATCH,
         {{1, kPlay, "True"}}},
        {"fewer values than tags",
         [] {
             return Tags({kPlay, kTrackNumber, kTrackName, kVolume});
         },
         [] {
             return Values({Bool(false), Int(2)});
         },
         DISP_E_BADINDEX,
         {{1, kPlay, "False"}, {1, kTrackNumber, "2"}}},
        {"no tags", [] { return nullptr; }, [] { return Values({Int(1)}); }, E_INVALIDARG, {}},
        {"no values", [] { return Tags({kPlay}); }, [] { return nullptr; }, E_INVALIDARG, {}},
        {"2-D tags",
         [&] { return SafeArrayCreate(VT_I4, 2, twoD); },
         [] { return Values({Int(1)}); },
         E_INVALIDARG,
         {}},
        {"2-D values",
         [] { return Tags({kPlay}); },
         [&] { return SafeArrayCreate(VT_VARIANT, 2, twoD); },
         E_INVALIDARG,
         {}},
        {"VT_I2 tags",
         [] { return SafeArrayCreateVector(VT_I2, 0, 4); },
         [] { return Values({Int(1)}); },
         E_INVALIDARG,
         {}},
        {"VT_I8 tags",
         [] { return SafeArrayCreateVector(VT_I8, 0, 1); },
         [] { return Values({Int(1)}); },
         E_INVALIDARG,
         {}},
        {"VT_I4 values",
         [] { return Tags({kPlay}); },
         [] { return SafeArrayCreateVector(VT_I4, 0, 1); },
         E_INVALIDARG,
         {}},
        {"VT_BSTR values",
         [] { return Tags({kPlay}); },
         [] { return SafeArrayCreateVector(VT_BSTR, 0, 1); },
         E_INVALIDARG,
         {}},
        // Tags are read from the start of their data, values by index from 0.
        {"tags from index 1",
         [] {
             SAFEARRAY* a = SafeArrayCreateVector(VT_I4, 1, 1);
             static_cast<LONG*>(a->pvData)[0] = kPlay;
             return a;
         },
         [] { return Values({Bool(true)}); },
         S_OK,
         {{1, kPlay, "True"}}},
        {"values from index 1",
         [] { return Tags({kPlay}); },
         [] { return SafeArrayCreateVector(VT_VARIANT, 1, 1); },
         DISP_E_BADINDEX,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Change(session_.get(), c.tags(), c.values()), c.result);
        EXPECT_EQ(Received(), c.sent);
    }
}

// Double-byte code page: run with a Japanese locale (ACP 932) by the script, which sets
// OSTREL_EXPECT_ACP so that a run in the wrong code page fails instead of proving nothing.
TEST_F(SinkTest, DoubleByteTextsAreCutOnACharacterBoundary) {
    const char* expected = std::getenv("OSTREL_EXPECT_ACP");
    if (expected == nullptr) GTEST_SKIP() << "needs a double-byte system code page";
    ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(expected)));
    ASSERT_NO_FATAL_FAILURE(Open());
    const std::wstring kanji(200, L'\x65E5');  // two bytes each in code page 932
    auto ansi = [](const std::wstring& w) {
        std::string s(w.size() * 2, '\0');
        const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(),
                                          static_cast<int>(s.size()), nullptr, nullptr);
        s.resize(n > 0 ? n : 0);
        return s;
    };
    EXPECT_EQ(Change(session_.get(), Tags({kTrackName, kTrackName, kTrackName}),
                     Values({Text(kanji), Text(L"a" + kanji), Text(kanji.substr(0, 3))})),
              S_OK);
    // 127 characters: the 128th would end at byte 256. Three characters need more bytes than
    // units and still arrive whole.
    const std::string first = ansi(kanji.substr(0, 127));
    ASSERT_EQ(first.size(), 254u);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, kTrackName, first},
                                            {1, kTrackName, ansi(L"a" + kanji.substr(0, 127))},
                                            {1, kTrackName, ansi(kanji.substr(0, 3))}}));
}

// The diagnostic log.

TEST_F(SinkTest, TheLogKeepsEarlierContentsAndGetsALinePerChangeAndClose) {
    HANDLE h = CreateFileW(LogPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, "earlier run\r\n", 13, &written, nullptr);
    CloseHandle(h);
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ(Change(session_.get(), Tags({kPlay, 5}), Values({Bool(true), Text(L"v")})), S_OK);
    EXPECT_EQ(session_->Close(), S_OK);
    EXPECT_EQ(ReadLog(),
              "earlier run\r\nSession 1: MSPROPTAG_Play = True\r\nSession 1: 5 = v\r\n"
              "Closing Session 1\r\n");
}

TEST_F(SinkTest, AFullLogMovesToTheOldOneAndStartsAfresh) {
    const std::wstring oldPath = LogPath().substr(0, LogPath().size() - 3) + L"old";
    // One byte short of 1 MiB: the first line goes past it, the log moves before that line.
    std::string full(1024 * 1024 - 1, 'x');
    full.replace(0, 7, "earlier");
    const std::pair<std::wstring, std::string> files[] = {{LogPath(), full}, {oldPath, "older"}};
    for (const auto& [path, contents] : files) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(h, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
        CloseHandle(h);
    }
    ASSERT_NO_FATAL_FAILURE(Open());
    Ref<IMediaStatusSession> second;
    ASSERT_EQ(sink_->CreateSession(second.Out()), S_OK);  // a second handle on the same log
    EXPECT_EQ(Change(session_.get(), Tags({kPlay}), Values({Bool(true)})), S_OK);
    EXPECT_EQ(second->Close(), S_OK);
    EXPECT_EQ(ReadLog(), "Session 1: MSPROPTAG_Play = True\r\nClosing Session 2\r\n");
    HANDLE h = CreateFileW(oldPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string old(full.size() + 1, '\0');
    DWORD read = 0;
    ReadFile(h, old.data(), static_cast<DWORD>(old.size()), &read, nullptr);
    CloseHandle(h);
    old.resize(read);
    EXPECT_TRUE(old == full) << "zelkmsas.old holds " << read << " bytes";
    DeleteFileW(oldPath.c_str());
}

TEST_F(SinkTest, ALogThatCannotBeOpenedLeavesTheSinkWorkingWithoutIt) {
    const auto forwards = [this] {
        ASSERT_EQ(sink_->CreateSession(session_.Out()), S_OK);
        EXPECT_EQ(Change(session_.get(), Tags({kTrackNumber}), Values({Int(4)})), S_OK);
        EXPECT_EQ(session_->Close(), S_OK);
        EXPECT_EQ(Received(), (std::vector<Rec>{{1, 1, ""}, {1, kTrackNumber, "4"}, {1, 3, ""}}));
        session_.Reset();
        sink_.Reset();
    };
    {
        SCOPED_TRACE("held by another handle");
        HANDLE held =
            CreateFileW(LogPath().c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(NewSink(sink_), S_OK);
        if (sink_) forwards();
        CloseHandle(held);
        EXPECT_EQ(ReadLog(), "");
    }
    {
        SCOPED_TRACE("temporary path too long");
        DeleteFileW(LogPath().c_str());
        wchar_t saved[MAX_PATH + 1];
        const DWORD savedLength = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH + 1);
        ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", (L"C:\\" + std::wstring(250, L'd')).c_str()));
        const HRESULT created = NewSink(sink_);
        SetEnvironmentVariableW(L"TMP", savedLength > 0 ? saved : nullptr);
        ASSERT_EQ(created, S_OK);
        forwards();
        EXPECT_EQ(ReadLog(), "<no log>");
    }
}

// The DLL's exports, called in the module COM loaded.
template <class F>
F Export(const char* name) {
    HMODULE module = GetModuleHandleW(L"Ostrel.dll");
    return module != nullptr
               ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

TEST_F(SinkTest, ASessionOutlivingItsSinkKeepsTheModuleAndStillForwardsAndLogs) {
    ASSERT_NO_FATAL_FAILURE(Open());
    auto canUnload = Export<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE);
    sink_.Reset();
    EXPECT_EQ(canUnload(), S_FALSE);
    EXPECT_EQ(Change(session_.get(), Tags({kPlay}), Values({Bool(true)})), S_OK);
    EXPECT_EQ(session_->Close(), S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, kPlay, "True"}, {1, 3, ""}}));
    session_.Reset();
    EXPECT_EQ(canUnload(), S_OK);
    EXPECT_EQ(ReadLog(), "Session 1: MSPROPTAG_Play = True\r\nClosing Session 1\r\n");

    // The class factory and its server lock hold the module as well.
    Ref<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_StatusSink, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.OutVoid()),
              S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(canUnload(), S_FALSE);
    ASSERT_EQ(CoGetClassObject(CLSID_StatusSink, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.OutVoid()),
              S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    EXPECT_EQ(canUnload(), S_OK);

    auto getClassObject =
        Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    ASSERT_NE(getClassObject, nullptr);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(IID_IMediaStatusSink, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(getClassObject(CLSID_StatusSink, IID_IClassFactory, nullptr), E_POINTER);
}

// The pipe client.

TEST_F(SinkTest, ABusyPipeIsWaitedFor) {
    ASSERT_NO_FATAL_FAILURE(Open());
    // Hold the pipe's one instance; the sink finds it busy and waits until it is let go.
    // WaitNamedPipeW waits in real time, so the holder lets go after a short real delay.
    HANDLE release = CreateThread(
        nullptr, 0,
        [](void* h) WINAPI -> DWORD {
            Sleep(300);
            CloseHandle(static_cast<HANDLE>(h));
            return 0;
        },
        PipeRecorder::Connect(), 0, nullptr);
    EXPECT_EQ(Change(session_.get(), Tags({kTrackNumber}), Values({Int(11)})), S_OK);
    WaitForSingleObject(release, INFINITE);
    CloseHandle(release);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, kTrackNumber, "11"}}));
    EXPECT_EQ(g_traces, std::vector<std::string>{});
}

TEST(SinkPipeFailures, NeverReachTheHostAndAreTraced) {
    g_traces.clear();
    Ref<IMediaStatusSink> sink;
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(NewSink(sink), S_OK);
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    EXPECT_EQ(Change(session.get(), Tags({kPlay}), Values({Bool(true)})), S_OK);
    EXPECT_EQ(session->Close(), S_OK);
    const std::string trace = "Could not open pipe. Error: 2 ";
    EXPECT_EQ(g_traces, (std::vector<std::string>{trace, trace, trace}));

    // A byte-type pipe refuses message read mode: the record is dropped.
    g_traces.clear();
    PipeRecorder byteServer(false);
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    EXPECT_EQ(byteServer.Drain().size(), 0u);
    EXPECT_EQ(g_traces, std::vector<std::string>{"SetNamedPipeHandleState failed"});
}

// COM identity, IDispatch and aggregation.

TEST_F(SinkTest, BothInterfacesWorkThroughIDispatch) {
    ASSERT_EQ(NewSink(sink_), S_OK);
    Ref<IDispatch> dispatch;
    EXPECT_EQ(sink_->QueryInterface(IID_IDispatch, dispatch.OutVoid()), E_NOINTERFACE);
    EXPECT_FALSE(dispatch);

    // CreateSession by DISPID through the sink's own IDispatch methods.
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ASSERT_EQ(sink_->Invoke(2, IID_NULL, 0x409, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
              S_OK);
    ASSERT_TRUE(result.vt == VT_DISPATCH || result.vt == VT_UNKNOWN) << result.vt;
    Ref<IDispatch> session;
    ASSERT_EQ(result.punkVal->QueryInterface(IID_IDispatch, session.OutVoid()), S_OK);
    VariantClear(&result);
    Ref<IUnknown> unknown;
    EXPECT_EQ(session->QueryInterface(IID_IMediaStatusSink, unknown.OutVoid()), E_NOINTERFACE);

    const struct {
        IDispatch* object;
        const wchar_t* name;
        DISPID id;
    } names[] = {{sink_.get(), L"CreateSession", 2},
                 {session.get(), L"MediaStatusChange", 1},
                 {session.get(), L"Close", 2}};
    for (const auto& n : names) {
        LPOLESTR list[] = {const_cast<LPOLESTR>(n.name)};
        DISPID id = 0;
        EXPECT_EQ(n.object->GetIDsOfNames(IID_NULL, list, 1, 0x409, &id), S_OK) << n.name;
        EXPECT_EQ(id, n.id) << n.name;
    }

    // MediaStatusChange, arguments in reverse order; a failing change comes back through
    // Invoke as its HRESULT.
    const auto invokeChange = [&](SAFEARRAY* tags, SAFEARRAY* values, EXCEPINFO* exception) {
        VARIANT args[2];
        args[1].vt = VT_ARRAY | VT_I4;
        args[1].parray = tags;
        args[0].vt = VT_ARRAY | VT_VARIANT;
        args[0].parray = values;
        DISPPARAMS change = {args, nullptr, 2, 0};
        const HRESULT hr = session->Invoke(1, IID_NULL, 0x409, DISPATCH_METHOD, &change, &result,
                                           exception, nullptr);
        VariantClear(&args[0]);
        VariantClear(&args[1]);
        return hr;
    };
    EXPECT_EQ(invokeChange(Tags({kPlay, kTrackNumber}), Values({Bool(true), Int(7)}), nullptr),
              S_OK);
    EXCEPINFO exception{};
    const HRESULT failed =
        invokeChange(Tags({kPlay, kTrackNumber}), Values({Bool(false)}), &exception);
    EXPECT_TRUE(failed == DISP_E_BADINDEX ||
                (failed == DISP_E_EXCEPTION && exception.scode == DISP_E_BADINDEX))
        << std::hex << failed;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);

    EXPECT_EQ(
        session->Invoke(2, IID_NULL, 0x409, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
        S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, 1, ""},
                                            {1, kPlay, "True"},
                                            {1, kTrackNumber, "7"},
                                            {1, kPlay, "False"},
                                            {1, 3, ""}}));
}

// An outer object that aggregates the sink: it answers IUnknown itself and hands everything
// else to the sink's inner unknown.
class Outer final : public IUnknown {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner != nullptr ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

TEST_F(SinkTest, TheSinkCanBeAggregated) {
    Outer outer;
    EXPECT_EQ(CoCreateInstance(CLSID_StatusSink, &outer, CLSCTX_INPROC_SERVER, IID_IMediaStatusSink,
                               sink_.OutVoid()),
              CLASS_E_NOAGGREGATION);
    ASSERT_EQ(CoCreateInstance(CLSID_StatusSink, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    EXPECT_EQ(outer.refs, 1u);

    IMediaStatusSink* sink = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IMediaStatusSink, reinterpret_cast<void**>(&sink)), S_OK);
    EXPECT_EQ(outer.refs, 2u);  // the sink's references count on the outer object
    IUnknown* identity = nullptr;
    ASSERT_EQ(sink->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();

    IMediaStatusSession* session = nullptr;
    ASSERT_EQ(sink->CreateSession(&session), S_OK);
    session->Release();
    sink->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, 1, ""}}));
}

// End to end: the script starts the service's simulator (lumara-sim) on the real pipe and
// sets OSTREL_END_TO_END; the panel's picture is then checked by the script.
TEST(EndToEnd, AHostSessionReportsACdTrack) {
    if (std::getenv("OSTREL_END_TO_END") == nullptr) {
        GTEST_SKIP() << "needs the service serving the pipe";
    }
    const std::wstring pipe = L"\\\\.\\pipe\\ZELK_FRONTPANEL_PIPE";
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {  // the service may still be starting
        up = WaitNamedPipeW(pipe.c_str(), 100) || GetLastError() == ERROR_SEM_TIMEOUT;
        if (!up) Sleep(100);
    }
    ASSERT_TRUE(up) << "nothing serves the pipe";
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);
    ASSERT_EQ(sink->Initialize(), S_OK);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    EXPECT_EQ(Change(session.get(), Tags({0x2002 /* CD */, kTrackName, kPlay, 0x200B}),
                     Values({Bool(true), Text(L"Blue Train"), Bool(true), Int(75)})),
              S_OK);
    // The session stays open: the panel keeps showing the track.
}

// The DLL's own resources: the version and the type library as the host's contract describes
// it.

std::wstring Doc(ITypeInfo* info, MEMBERID member) {
    BSTR name = nullptr;
    BSTR doc = nullptr;
    info->GetDocumentation(member, &name, &doc, nullptr, nullptr);
    std::wstring text = std::wstring(name ? name : L"") + L"|" + (doc ? doc : L"");
    SysFreeString(name);
    SysFreeString(doc);
    return text;
}

TEST(OstrelFile, VersionAndTypeLibraryHoldTheHostContract) {
    Ref<IMediaStatusSink> sink;  // loads the DLL
    ASSERT_EQ(NewSink(sink), S_OK);
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(GetModuleHandleW(L"Ostrel.dll"), path, MAX_PATH);

    DWORD ignored = 0;
    std::vector<char> data(GetFileVersionInfoSizeW(path, &ignored));
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(data.size()), data.data()));
    VS_FIXEDFILEINFO* version = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&version), &length));
    EXPECT_EQ(version->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(version->dwFileVersionLS, 0u);
    EXPECT_EQ(version->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(version->dwProductVersionLS, 0u);

    Ref<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(path, REGKIND_NONE, library.Out()), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_QUILLONLib));
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 0x409u);
    library->ReleaseTLibAttr(attr);
    BSTR name = nullptr;
    BSTR doc = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"QUILLONLib");
    EXPECT_STREQ(doc, L"Quillon 1.0 Type Library");
    SysFreeString(name);
    SysFreeString(doc);
    EXPECT_EQ(library->GetTypeInfoCount(), 4u);

    const struct {
        const IID* iid;
        const wchar_t* help;
        std::vector<std::pair<const wchar_t*, DISPID>> methods;
    } interfaces[] = {
        {&IID_IMediaStatusSink,
         L"IMediaStatusSink|IMediaStatusSink Interface",
         {{L"Initialize", 1}, {L"CreateSession", 2}}},
        {&IID_IMediaStatusSession,
         L"IMediaStatusSession|IMediaStatusSession Interface",
         {{L"MediaStatusChange", 1}, {L"Close", 2}}},
    };
    TYPEATTR* type = nullptr;
    for (const auto& expected : interfaces) {
        Ref<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfoOfGuid(*expected.iid, info.Out()), S_OK);
        ASSERT_EQ(info->GetTypeAttr(&type), S_OK);
        EXPECT_EQ(type->typekind, TKIND_DISPATCH);
        EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FDUAL);
        info->ReleaseTypeAttr(type);
        // The vtable half of the dual interface is the OLE automation compatible one.
        HREFTYPE vtableRef = 0;
        Ref<ITypeInfo> vtable;
        ASSERT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef), S_OK);
        ASSERT_EQ(info->GetRefTypeInfo(vtableRef, vtable.Out()), S_OK);
        ASSERT_EQ(vtable->GetTypeAttr(&type), S_OK);
        EXPECT_EQ(type->typekind, TKIND_INTERFACE);
        EXPECT_EQ(type->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION),
                  TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION);
        vtable->ReleaseTypeAttr(type);
        EXPECT_EQ(Doc(info.get(), MEMBERID_NIL), expected.help);
        for (const auto& [method, dispid] : expected.methods) {
            LPOLESTR names[] = {const_cast<LPOLESTR>(method)};
            MEMBERID id = 0;
            ASSERT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK) << method;
            EXPECT_EQ(id, dispid) << method;
            EXPECT_EQ(Doc(info.get(), id), std::wstring(method) + L"|method " + method);
        }
    }

    Ref<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_StatusSink, coclass.Out()), S_OK);
    ASSERT_EQ(coclass->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_COCLASS);
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(type->cImplTypes, 1);
    coclass->ReleaseTypeAttr(type);
    EXPECT_EQ(Doc(coclass.get(), MEMBERID_NIL), L"StatusSink|StatusSink Class");
    INT flags = 0;
    EXPECT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);

    // The enumeration: exactly the shared tag table, name for name and value for value.
    Ref<ITypeInfo> enumeration;
    for (UINT i = 0; i < library->GetTypeInfoCount() && !enumeration; ++i) {
        TYPEKIND kind;
        if (library->GetTypeInfoType(i, &kind) == S_OK && kind == TKIND_ENUM) {
            library->GetTypeInfo(i, enumeration.Out());
        }
    }
    ASSERT_TRUE(enumeration);
    EXPECT_EQ(Doc(enumeration.get(), MEMBERID_NIL).substr(0, 23), L"MEDIASTATUSPROPERTYTAG|");
    int count = 0;
    const TagEntry* tags = AllTags(count);
    ASSERT_EQ(count, kMediaStatusTagCount);
    ASSERT_EQ(enumeration->GetTypeAttr(&type), S_OK);
    const int variables = type->cVars;
    enumeration->ReleaseTypeAttr(type);
    ASSERT_EQ(variables, count);
    for (int i = 0; i < variables; ++i) {
        VARDESC* var = nullptr;
        ASSERT_EQ(enumeration->GetVarDesc(i, &var), S_OK);
        BSTR varName = nullptr;
        enumeration->GetDocumentation(var->memid, &varName, nullptr, nullptr, nullptr);
        VARIANT value;
        VariantInit(&value);
        VariantChangeType(&value, var->lpvarValue, 0, VT_I4);
        std::string narrow;
        for (const wchar_t* w = varName; w && *w; ++w) narrow += static_cast<char>(*w);
        EXPECT_EQ(narrow, tags[i].name);
        EXPECT_EQ(value.lVal, tags[i].value) << narrow;
        SysFreeString(varName);
        enumeration->ReleaseVarDesc(var);
    }
}

}  // namespace
}  // namespace zelk::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    AddVectoredExceptionHandler(1, zelk::test::CaptureTrace);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
