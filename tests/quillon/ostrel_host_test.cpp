// The status host's view of Ostrel.dll: everything goes through COM (the registered CLSID, the
// two host interfaces, IDispatch by DISPID) and the pipe, as the media center uses it. Runs under
// Wine from ostrel_wine_test.sh after regsvr32.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "common/media_status_tags.h"
#include "common/pipe_message.h"
#include "quillon.h"
#include "tests/quillon/pipe_recorder_win32.h"

namespace zelk::testing {
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
        if (p_ != nullptr) {
            p_->Release();
            p_ = nullptr;
        }
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
    for (LONG t : tags) {
        SafeArrayPutElement(a, &i, &t);
        ++i;
    }
    return a;
}

// Takes ownership of the VARIANTs' contents.
SAFEARRAY* Values(std::vector<VARIANT> values) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
    LONG i = 0;
    for (VARIANT& v : values) {
        SafeArrayPutElement(a, &i, &v);
        VariantClear(&v);
        ++i;
    }
    return a;
}

VARIANT Bool(bool b) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT Int(LONG n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

VARIANT Text(const std::wstring& s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return v;
}

VARIANT OfType(VARTYPE type) {
    VARIANT v;
    VariantInit(&v);
    v.vt = type;
    return v;
}

// Calls MediaStatusChange and frees both arrays.
HRESULT Change(IMediaStatusSession* session, SAFEARRAY* tags, SAFEARRAY* values) {
    const HRESULT hr = session->MediaStatusChange(tags, values);
    if (tags != nullptr) SafeArrayDestroy(tags);
    if (values != nullptr) SafeArrayDestroy(values);
    return hr;
}

std::wstring TempFolder() {
    wchar_t path[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, path);
    return std::wstring(path, n);
}

std::wstring LogPath() {
    return TempFolder() + L"zelkmsas.txt";
}

// The log's contents, read while the sink may still hold it for writing.
std::string ReadLog() {
    HANDLE h = CreateFileW(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return "<no log>";
    }
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(h, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    CloseHandle(h);
    return text;
}

void WriteLogFile(const std::string& text) {
    HANDLE h = CreateFileW(LogPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
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

class SinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_traces.clear();
        DeleteFileW(LogPath().c_str());
    }

    HRESULT NewSink(Ref<IMediaStatusSink>& sink) {
        return CoCreateInstance(CLSID_StatusSink, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IMediaStatusSink, sink.OutVoid());
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
};

// Sessions, numbering and the two session records.

TEST_F(SinkTest, SessionsAreNumberedPerSinkAndBracketedByTagsOneAndThree) {
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);
    EXPECT_EQ(sink->Initialize(), S_OK);
    Ref<IMediaStatusSession> first;
    Ref<IMediaStatusSession> second;
    ASSERT_EQ(sink->CreateSession(first.Out()), S_OK);
    ASSERT_EQ(sink->CreateSession(second.Out()), S_OK);
    EXPECT_EQ(first->Close(), S_OK);
    EXPECT_EQ(second->Close(), S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, 1, ""}, {2, 1, ""}, {1, 3, ""}, {2, 3, ""}}));

    // A closed session still forwards.
    EXPECT_EQ(Change(first.get(), Tags({kPlay}), Values({Bool(true)})), S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, kPlay, "True"}}));

    first.Reset();
    second.Reset();
    sink.Reset();
    ASSERT_EQ(NewSink(sink), S_OK);
    Ref<IMediaStatusSession> again;
    ASSERT_EQ(sink->CreateSession(again.Out()), S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, 1, ""}}));
}

TEST_F(SinkTest, CreateSessionRefusesANullOutPointerWithoutUsingANumber) {
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);
    EXPECT_EQ(sink->CreateSession(nullptr), E_POINTER);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, 1, ""}}));
}

// Values and their texts.

TEST_F(SinkTest, ValuesArriveAsTextsOneRecordPerPairInArrayOrder) {
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    Received();

    EXPECT_EQ(Change(session.get(), Tags({kPlay, kTrackNumber, kTrackName, 0x1000, 5, kVolume}),
                     Values({Bool(true), Int(7), OfType(VT_EMPTY), Bool(false), Int(-12),
                             Text(L"Blue Train")})),
              S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, kPlay, "True"},
                                            {1, kTrackNumber, "7"},
                                            {1, kTrackName, ""},
                                            {1, 0x1000, "False"},
                                            {1, 5, "-12"},
                                            {1, kVolume, "Blue Train"}}));

    // Values beyond the tags are ignored; an empty change sends nothing.
    EXPECT_EQ(Change(session.get(), Tags({kTrackNumber}), Values({Int(3), Int(4)})), S_OK);
    EXPECT_EQ(Change(session.get(), Tags({}), Values({})), S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, kTrackNumber, "3"}}));
}

TEST_F(SinkTest, AFailingPairStopsTheChangeAfterThePairsBeforeItWereSent) {
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    Received();

    EXPECT_EQ(Change(session.get(), Tags({kPlay, kTrackNumber, kTrackName}),
                     Values({Bool(true), OfType(VT_NULL), Text(L"never")})),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, kPlay, "True"}}));

    EXPECT_EQ(Change(session.get(), Tags({kPlay, kTrackNumber, kTrackName, kVolume}),
                     Values({Bool(false), Int(2)})),
              DISP_E_BADINDEX);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, kPlay, "False"}, {1, kTrackNumber, "2"}}));
}

TEST_F(SinkTest, LongAndEmbeddedNulTextsAreCut) {
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    Received();

    EXPECT_EQ(Change(session.get(), Tags({kTrackName, kTrackName, kTrackName}),
                     Values({Text(std::wstring(300, L'x')), Text(std::wstring(255, L'y')),
                             Text(std::wstring(L"ab\0cd", 5))})),
              S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, kTrackName, std::string(255, 'x')},
                                            {1, kTrackName, std::string(255, 'y')},
                                            {1, kTrackName, "ab"}}));
}

// Double-byte code page: run with a Japanese locale (ACP 932) by the script, which sets
// OSTREL_EXPECT_ACP so that a run in the wrong code page fails instead of proving nothing.
TEST_F(SinkTest, DoubleByteTextsAreCutOnACharacterBoundary) {
    const char* expected = std::getenv("OSTREL_EXPECT_ACP");
    if (expected == nullptr) {
        GTEST_SKIP() << "needs a double-byte system code page";
    }
    ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(expected)));
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    Received();

    const std::wstring kanji(200, L'\x65E5');  // two bytes each in code page 932
    auto ansi = [](const std::wstring& w) {
        std::string s(w.size() * 2, '\0');
        const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(),
                                          static_cast<int>(s.size()), nullptr, nullptr);
        s.resize(n > 0 ? n : 0);
        return s;
    };
    EXPECT_EQ(Change(session.get(), Tags({kTrackName, kTrackName, kTrackName}),
                     Values({Text(kanji), Text(L"a" + kanji), Text(kanji.substr(0, 3))})),
              S_OK);
    const std::vector<Rec> got = Received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].text.size(), 254u);  // 127 characters: the 128th would end at byte 256
    EXPECT_EQ(got[0].text, ansi(kanji.substr(0, 127)));
    EXPECT_EQ(got[1].text.size(), 255u);
    EXPECT_EQ(got[1].text, ansi(L"a" + kanji.substr(0, 127)));
    EXPECT_EQ(got[2].text, ansi(kanji.substr(0, 3)));  // more bytes than units, not empty
    EXPECT_EQ(got[2].text.size(), 6u);
}

// Arrays the host should never send are refused before anything is written.
TEST_F(SinkTest, MalformedArraysAreRefusedAndNothingIsSent) {
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    Received();

    EXPECT_EQ(Change(session.get(), nullptr, Values({Int(1)})), E_INVALIDARG);
    EXPECT_EQ(Change(session.get(), Tags({kPlay}), nullptr), E_INVALIDARG);

    SAFEARRAYBOUND twoD[2] = {{2, 0}, {2, 0}};
    EXPECT_EQ(Change(session.get(), SafeArrayCreate(VT_I4, 2, twoD), Values({Int(1)})),
              E_INVALIDARG);
    EXPECT_EQ(Change(session.get(), Tags({kPlay}), SafeArrayCreate(VT_VARIANT, 2, twoD)),
              E_INVALIDARG);
    EXPECT_EQ(Change(session.get(), SafeArrayCreateVector(VT_I2, 0, 4), Values({Int(1)})),
              E_INVALIDARG);
    EXPECT_EQ(Change(session.get(), SafeArrayCreateVector(VT_I8, 0, 1), Values({Int(1)})),
              E_INVALIDARG);
    EXPECT_EQ(Change(session.get(), Tags({kPlay}), SafeArrayCreateVector(VT_I4, 0, 1)),
              E_INVALIDARG);
    EXPECT_EQ(Change(session.get(), Tags({kPlay}), SafeArrayCreateVector(VT_BSTR, 0, 1)),
              E_INVALIDARG);
    EXPECT_EQ(Received(), std::vector<Rec>{});

    // Tags are read from the start of their data, values by index from 0.
    SAFEARRAY* fromOne = SafeArrayCreateVector(VT_I4, 1, 1);
    static_cast<LONG*>(fromOne->pvData)[0] = kPlay;
    EXPECT_EQ(Change(session.get(), fromOne, Values({Bool(true)})), S_OK);
    SAFEARRAY* valuesFromOne = SafeArrayCreateVector(VT_VARIANT, 1, 1);
    EXPECT_EQ(Change(session.get(), Tags({kPlay}), valuesFromOne), DISP_E_BADINDEX);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, kPlay, "True"}}));
}

// The diagnostic log.

TEST_F(SinkTest, TheLogKeepsEarlierContentsAndGetsALinePerChangeAndClose) {
    WriteLogFile("earlier run\r\n");
    {
        Ref<IMediaStatusSink> sink;
        ASSERT_EQ(NewSink(sink), S_OK);
        Ref<IMediaStatusSession> session;
        ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
        EXPECT_EQ(Change(session.get(), Tags({kPlay, 5}), Values({Bool(true), Text(L"v")})), S_OK);
        EXPECT_EQ(session->Close(), S_OK);
    }
    EXPECT_EQ(ReadLog(),
              "earlier run\r\nSession 1: MSPROPTAG_Play = True\r\nSession 1: 5 = v\r\n"
              "Closing Session 1\r\n");
}

TEST_F(SinkTest, ASessionOutlivingItsSinkStillForwardsAndLogs) {
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    sink.Reset();
    EXPECT_EQ(Change(session.get(), Tags({kPlay}), Values({Bool(true)})), S_OK);
    EXPECT_EQ(session->Close(), S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, 1, ""}, {1, kPlay, "True"}, {1, 3, ""}}));
    session.Reset();
    EXPECT_EQ(ReadLog(), "Session 1: MSPROPTAG_Play = True\r\nClosing Session 1\r\n");
}

TEST_F(SinkTest, ALogHeldByAnotherHandleLeavesTheSinkWorkingWithoutIt) {
    WriteLogFile("");
    HANDLE held =
        CreateFileW(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    {
        Ref<IMediaStatusSink> sink;
        ASSERT_EQ(NewSink(sink), S_OK);
        Ref<IMediaStatusSession> session;
        ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
        EXPECT_EQ(Change(session.get(), Tags({kTrackNumber}), Values({Int(4)})), S_OK);
        EXPECT_EQ(session->Close(), S_OK);
    }
    CloseHandle(held);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, 1, ""}, {1, kTrackNumber, "4"}, {1, 3, ""}}));
    EXPECT_EQ(ReadLog(), "");
}

TEST_F(SinkTest, TwoSinksAtOnceBothForward) {
    Ref<IMediaStatusSink> a;
    Ref<IMediaStatusSink> b;
    ASSERT_EQ(NewSink(a), S_OK);
    ASSERT_EQ(NewSink(b), S_OK);  // the second finds the log taken and goes on without it
    Ref<IMediaStatusSession> sa;
    Ref<IMediaStatusSession> sb;
    ASSERT_EQ(a->CreateSession(sa.Out()), S_OK);
    ASSERT_EQ(b->CreateSession(sb.Out()), S_OK);
    EXPECT_EQ(Change(sb.get(), Tags({kTrackNumber}), Values({Int(9)})), S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, 1, ""}, {1, 1, ""}, {1, kTrackNumber, "9"}}));
}

TEST_F(SinkTest, ATemporaryPathTooLongForTheLogLeavesTheSinkWorking) {
    wchar_t saved[MAX_PATH + 1];
    const DWORD savedLength = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH + 1);
    const std::wstring longPath = L"C:\\" + std::wstring(250, L'd');
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", longPath.c_str()));
    Ref<IMediaStatusSink> sink;
    const HRESULT created = NewSink(sink);
    SetEnvironmentVariableW(L"TMP", savedLength > 0 ? saved : nullptr);
    ASSERT_EQ(created, S_OK);

    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    EXPECT_EQ(Change(session.get(), Tags({kPlay}), Values({Bool(true)})), S_OK);
    EXPECT_EQ(session->Close(), S_OK);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, 1, ""}, {1, kPlay, "True"}, {1, 3, ""}}));
    EXPECT_EQ(ReadLog(), "<no log>");
}

// The pipe client.

TEST_F(SinkTest, ABusyPipeIsWaitedFor) {
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    Received();

    // Hold the pipe's one instance; the sink finds it busy and waits until it is let go.
    // WaitNamedPipeW waits in real time, so the holder lets go after a short real delay.
    HANDLE held = PipeRecorder::Connect();
    HANDLE release = CreateThread(
        nullptr, 0,
        [](void* h) -> DWORD {
            Sleep(300);
            CloseHandle(static_cast<HANDLE>(h));
            return 0;
        },
        held, 0, nullptr);
    EXPECT_EQ(Change(session.get(), Tags({kTrackNumber}), Values({Int(11)})), S_OK);
    WaitForSingleObject(release, INFINITE);
    CloseHandle(release);
    EXPECT_EQ(Received(), (std::vector<Rec>{{1, kTrackNumber, "11"}}));
    EXPECT_EQ(g_traces, std::vector<std::string>{});
}

TEST(SinkWithoutServer, ChangesSucceedAndTheOpenFailureIsTraced) {
    g_traces.clear();
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(CoCreateInstance(CLSID_StatusSink, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMediaStatusSink, sink.OutVoid()),
              S_OK);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    EXPECT_EQ(Change(session.get(), Tags({kPlay}), Values({Bool(true)})), S_OK);
    EXPECT_EQ(session->Close(), S_OK);
    const std::string trace = "Could not open pipe. Error: 2 ";
    EXPECT_EQ(g_traces, (std::vector<std::string>{trace, trace, trace}));
}

TEST(SinkWithByteServer, AFailedModeChangeDropsTheRecordWithATrace) {
    g_traces.clear();
    PipeRecorder byteServer(false);
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(CoCreateInstance(CLSID_StatusSink, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMediaStatusSink, sink.OutVoid()),
              S_OK);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    EXPECT_EQ(byteServer.Drain().size(), 0u);
    EXPECT_EQ(g_traces, std::vector<std::string>{"SetNamedPipeHandleState failed"});
}

// COM identity, IDispatch and aggregation.

TEST_F(SinkTest, InterfacesAnsweredBySinkAndSession) {
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);
    Ref<IUnknown> unknown;
    EXPECT_EQ(sink->QueryInterface(IID_IUnknown, unknown.OutVoid()), S_OK);
    Ref<IDispatch> dispatch;
    EXPECT_EQ(sink->QueryInterface(IID_IDispatch, dispatch.OutVoid()), E_NOINTERFACE);
    EXPECT_FALSE(dispatch);

    UINT count = 0;
    EXPECT_EQ(sink->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    OLECHAR name[] = L"CreateSession";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    EXPECT_EQ(sink->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id), S_OK);
    EXPECT_EQ(id, 2);

    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    EXPECT_EQ(session->QueryInterface(IID_IDispatch, dispatch.OutVoid()), S_OK);
    EXPECT_EQ(session->QueryInterface(IID_IMediaStatusSink, unknown.OutVoid()), E_NOINTERFACE);
    count = 0;
    EXPECT_EQ(session->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    OLECHAR change[] = L"MediaStatusChange";
    OLECHAR close[] = L"Close";
    LPOLESTR sessionNames[] = {change};
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, sessionNames, 1, 0x409, &id), S_OK);
    EXPECT_EQ(id, 1);
    sessionNames[0] = close;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, sessionNames, 1, 0x409, &id), S_OK);
    EXPECT_EQ(id, 2);
}

TEST_F(SinkTest, BothSessionMethodsWorkThroughInvoke) {
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);

    // CreateSession by DISPID through the sink's own IDispatch methods.
    VARIANT created;
    VariantInit(&created);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ASSERT_EQ(sink->Invoke(2, IID_NULL, 0x409, DISPATCH_METHOD, &none, &created, nullptr, nullptr),
              S_OK);
    ASSERT_TRUE(created.vt == VT_DISPATCH || created.vt == VT_UNKNOWN) << created.vt;
    Ref<IDispatch> session;
    ASSERT_EQ(created.punkVal->QueryInterface(IID_IDispatch, session.OutVoid()), S_OK);
    VariantClear(&created);

    // MediaStatusChange: arguments in reverse order.
    VARIANT args[2];
    args[1].vt = VT_ARRAY | VT_I4;
    args[1].parray = Tags({kPlay, kTrackNumber});
    args[0].vt = VT_ARRAY | VT_VARIANT;
    args[0].parray = Values({Bool(true), Int(7)});
    DISPPARAMS change = {args, nullptr, 2, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(
        session->Invoke(1, IID_NULL, 0x409, DISPATCH_METHOD, &change, &result, nullptr, nullptr),
        S_OK);
    VariantClear(&args[0]);
    VariantClear(&args[1]);

    // A failing change comes back through Invoke as its HRESULT.
    args[1].vt = VT_ARRAY | VT_I4;
    args[1].parray = Tags({kPlay, kTrackNumber});
    args[0].vt = VT_ARRAY | VT_VARIANT;
    args[0].parray = Values({Bool(false)});
    EXCEPINFO exception{};
    const HRESULT failed =
        session->Invoke(1, IID_NULL, 0x409, DISPATCH_METHOD, &change, &result, &exception, nullptr);
    EXPECT_TRUE(failed == DISP_E_BADINDEX ||
                (failed == DISP_E_EXCEPTION && exception.scode == DISP_E_BADINDEX))
        << std::hex << failed;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    VariantClear(&args[0]);
    VariantClear(&args[1]);

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
    Ref<IMediaStatusSink> refused;
    EXPECT_EQ(CoCreateInstance(CLSID_StatusSink, &outer, CLSCTX_INPROC_SERVER, IID_IMediaStatusSink,
                               refused.OutVoid()),
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

// The DLL's exports, called in the module COM loaded.
template <class F>
F Export(const char* name) {
    HMODULE module = GetModuleHandleW(L"Ostrel.dll");
    return module != nullptr
               ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

TEST_F(SinkTest, TheModuleStaysLoadedWhileASessionOutlivesItsSink) {
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(NewSink(sink), S_OK);
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    auto canUnload = Export<CanUnload>("DllCanUnloadNow");
    ASSERT_NE(canUnload, nullptr);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    sink.Reset();
    EXPECT_EQ(canUnload(), S_FALSE);
    session.Reset();
    EXPECT_EQ(canUnload(), S_OK);

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

    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = Export<GetClassObject>("DllGetClassObject");
    ASSERT_NE(getClassObject, nullptr);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(IID_IMediaStatusSink, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(getClassObject(CLSID_StatusSink, IID_IClassFactory, nullptr), E_POINTER);
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
    ASSERT_EQ(CoCreateInstance(CLSID_StatusSink, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMediaStatusSink, sink.OutVoid()),
              S_OK);
    ASSERT_EQ(sink->Initialize(), S_OK);
    Ref<IMediaStatusSession> session;
    ASSERT_EQ(sink->CreateSession(session.Out()), S_OK);
    EXPECT_EQ(Change(session.get(), Tags({0x2002 /* CD */, kTrackName, kPlay, 0x200B}),
                     Values({Bool(true), Text(L"Blue Train"), Bool(true), Int(75)})),
              S_OK);
    // The session stays open: the panel keeps showing the track.
}

// The DLL's own resources: the type library as the host's contract describes it, and the
// version.

std::wstring LoadedModulePath() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(GetModuleHandleW(L"Ostrel.dll"), path, MAX_PATH);
    return std::wstring(path, n);
}

std::wstring Doc(ITypeInfo* info, MEMBERID member) {
    BSTR name = nullptr;
    BSTR doc = nullptr;
    info->GetDocumentation(member, &name, &doc, nullptr, nullptr);
    std::wstring text = std::wstring(name ? name : L"") + L"|" + (doc ? doc : L"");
    SysFreeString(name);
    SysFreeString(doc);
    return text;
}

TEST(OstrelFile, VersionResourceIs1000) {
    Ref<IMediaStatusSink> sink;  // loads the DLL
    ASSERT_EQ(CoCreateInstance(CLSID_StatusSink, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMediaStatusSink, sink.OutVoid()),
              S_OK);
    const std::wstring path = LoadedModulePath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length));
    EXPECT_EQ(info->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(info->dwFileVersionLS, 0u);
    EXPECT_EQ(info->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(info->dwProductVersionLS, 0u);
}

TEST(OstrelFile, TypeLibraryHoldsTheHostContract) {
    Ref<IMediaStatusSink> sink;
    ASSERT_EQ(CoCreateInstance(CLSID_StatusSink, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMediaStatusSink, sink.OutVoid()),
              S_OK);
    Ref<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(LoadedModulePath().c_str(), REGKIND_NONE, library.Out()), S_OK);
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

    struct Method {
        const wchar_t* name;
        DISPID id;
        const wchar_t* help;
    };
    struct Interface {
        const IID* iid;
        const wchar_t* help;
        std::vector<Method> methods;
    };
    const Interface interfaces[] = {
        {&IID_IMediaStatusSink,
         L"IMediaStatusSink|IMediaStatusSink Interface",
         {{L"Initialize", 1, L"method Initialize"},
          {L"CreateSession", 2, L"method CreateSession"}}},
        {&IID_IMediaStatusSession,
         L"IMediaStatusSession|IMediaStatusSession Interface",
         {{L"MediaStatusChange", 1, L"method MediaStatusChange"}, {L"Close", 2, L"method Close"}}},
    };
    for (const Interface& expected : interfaces) {
        Ref<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfoOfGuid(*expected.iid, info.Out()), S_OK);
        TYPEATTR* type = nullptr;
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
        for (const Method& m : expected.methods) {
            LPOLESTR names[] = {const_cast<LPOLESTR>(m.name)};
            MEMBERID id = 0;
            ASSERT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK) << m.name;
            EXPECT_EQ(id, m.id) << m.name;
            EXPECT_EQ(Doc(info.get(), id), std::wstring(m.name) + L"|" + m.help);
        }
    }

    Ref<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_StatusSink, coclass.Out()), S_OK);
    TYPEATTR* type = nullptr;
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
}  // namespace zelk::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 2;
    }
    AddVectoredExceptionHandler(1, zelk::testing::CaptureTrace);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
