// DisplayProps.xml as the panel reads it at start-up: a table of small files, the files that
// cannot be loaded, and what the panel does with the values read.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <string>

#include "common/win_codes.h"
#include "service/core/display_composition.h"
#include "service/panel/display_props.h"
#include "service/panel/panel_startup.h"
#include "service/panel/virtual_panel.h"
#include "tests/display/display_test_support.h"

namespace zelk {
namespace {

using test::RecordingConverter;
using test::ScratchFolder;

std::string Document(const std::string& displayBody) {
    return "<?xml version=\"1.0\"?>\n<FrontPanel>\n  <Display>\n" + displayBody +
           "  </Display>\n</FrontPanel>\n";
}
const std::string kIds = "<VID>1F3C</VID><PID>5A41</PID><DisplayColumns>12</DisplayColumns>\n";

// `xml` with a comment after its root that makes it `size` bytes long.
std::string Padded(const std::string& xml, std::uint64_t size) {
    const std::size_t filler = static_cast<std::size_t>(size) - xml.size() - 7;
    return xml + "<!--" + std::string(filler, 'x') + "-->";
}

// `ascii` as UTF-16 of either byte order, with its byte order mark.
std::string Utf16(const std::string& ascii, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : ascii) bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return bytes;
}
const std::string kEntityMentioned =
    "<?xml version=\"1.0\"?>\n<!-- <!ENTITY v \"1\"> -->\n<?note <!ENTITY v \"1\">?>\n"
    "<!DOCTYPE FrontPanel [<!-- <!ENTITY v \"1\"> --><?note <!ENTITY?>"
    "<!NOTATION n SYSTEM \"<!ENTITY v '1'>\">]>\n<FrontPanel><Note><![CDATA[<!ENTITY v \"1\">]]>"
    "</Note><!-- <!ENTITY --><Display>" +
    kIds + "</Display></FrontPanel>\n";

// One panel with a recording converter, on a virtual bus with one device 1F3C:5A41.
struct PanelUnderTest {
    PanelUnderTest() {
        auto recording = std::make_unique<RecordingConverter>();
        converter = recording.get();
        panel = std::make_unique<PanelDevice>(bus, std::move(recording), sleeper);
    }
    // Every property, as "VID:PID rows cols type color scrolling volume brightness".
    std::string Properties() const {
        char text[96];
        const PanelConfig& c = panel->Config();
        std::snprintf(text, sizeof text, "%04X:%04X %d %d %d %d %d %d %d", c.vendorId, c.productId,
                      c.displayRows, c.displayColumns, static_cast<int>(c.displayType),
                      c.colorDisplay, c.scrolling, static_cast<int>(c.volumeControl),
                      static_cast<int>(c.brightness));
        return text;
    }
    VirtualPanelBus bus{VirtualDeviceConfig{}};
    test::RecordingSleeper sleeper;
    RecordingConverter* converter = nullptr;
    std::unique_ptr<PanelDevice> panel;
};
const std::string kConstructed = "1F3C:5A41 2 12 0 0 0 0 0";

struct PropsCase {
    const char* name;
    std::string xml;
    std::uint32_t result;
    const char* properties;
};
const PropsCase kPropsCases[] = {
    {"AllNineHexAndDecimal",
     Document("<VID>0x1F3C</VID><PID>5A41</PID><Type>Graphic</Type><ColorDisplay>True"
              "</ColorDisplay><Scrolling>True</Scrolling><DisplayRows>2</DisplayRows>"
              "<DisplayColumns>16</DisplayColumns><VolumeControl>-7</VolumeControl>"
              "<Brightness>300</Brightness>"),
     0, "1F3C:5A41 2 16 1 1 1 -7 300"},
    {"HexWithBlanksSignCaseAndTrailingLetters",
     Document("<VID>  +0X1f3c</VID><PID>5a41zz</PID><DisplayColumns>12 wide</DisplayColumns>"), 0,
     "1F3C:5A41 0 12 0 0 0 0 0"},
    {"NumbersKeepTheirLow16Bits",
     Document("<VID>0x11F3C</VID><PID>-0x1</PID><DisplayRows>65538</DisplayRows>"
              "<DisplayColumns>-1</DisplayColumns>"),
     kErrorDeviceNotConnected, "1F3C:FFFF 2 -1 0 0 0 0 0"},
    {"NamedValuesAreCaseExact",
     Document(kIds + "<Type>graphic</Type><ColorDisplay>TRUE</ColorDisplay><Scrolling>yes"
                     "</Scrolling>"),
     0, "1F3C:5A41 0 12 0 0 0 0 0"},
    {"BlanksAroundATextAreNotPartOfIt",
     Document(kIds + "<Type>\n  Graphic\n</Type><Scrolling> True </Scrolling>"), 0,
     "1F3C:5A41 0 12 1 0 1 0 0"},
    {"TheFirstOfTwoVidsCounts", Document(kIds + "<VID>FFFF</VID>"), 0, "1F3C:5A41 0 12 0 0 0 0 0"},
    {"AVidUnderTheRootIsNotFound",
     "<FrontPanel><VID>1F3C</VID><Display><PID>5A41</PID></Display></FrontPanel>",
     kErrorDeviceNotConnected, "0000:5A41 0 0 0 0 0 0 0"},
    {"CommentsTextAndInstructionsBeforeDisplay",
     "<?xml version=\"1.0\"?>\n<!-- living room -->\n<FrontPanel>\n  text\n  <!-- panel -->\n"
     "  <?panel-tool v2?>\n  <Other><Display><VID>FFFF</VID></Display></Other>\n"
     "  <Display><!-- ids -->" +
         kIds + "</Display>\n</FrontPanel>\n",
     0, "1F3C:5A41 0 12 0 0 0 0 0"},
    {"DisplayIsMatchedExactly", "<FrontPanel><display>" + kIds + "</display></FrontPanel>",
     kErrorDeviceNotConnected, "0000:0000 0 0 0 0 0 0 0"},
    {"EmptyDisplayColumns", Document("<VID>1F3C</VID><PID>5A41</PID><DisplayColumns/>"), 0,
     "1F3C:5A41 0 0 0 0 0 0 0"},
    {"ATypedNumberHasNoStringValue",
     "<FrontPanel xmlns:dt=\"urn:schemas-microsoft-com:datatypes\"><Display><VID>1F3C</VID>"
     "<PID>5A41</PID><DisplayColumns dt:dt=\"int\">16</DisplayColumns>"
     "<Type dt:dt=\"string\">Graphic</Type></Display></FrontPanel>",
     0, "1F3C:5A41 0 0 1 0 0 0 0"},
    {"ReferencesAndCdata",
     Document("<VID>&#x31;F3C</VID><PID><![CDATA[5A41]]></PID><Type>Gr&#97;phic</Type>"), 0,
     "1F3C:5A41 0 0 1 0 0 0 0"},
    {"WindowsCodePageDeclared",
     "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<FrontPanel><!-- caf\xE9 \x93q\x94 -->"
     "<Display>" +
         kIds + "</Display></FrontPanel>\n",
     0, "1F3C:5A41 0 12 0 0 0 0 0"},
    // A document type without entity declarations is read as if it were not there.
    {"DocumentTypeWithoutEntities",
     "<?xml version=\"1.0\"?>\n<!DOCTYPE FrontPanel [<!ELEMENT FrontPanel ANY>]>\n<FrontPanel>"
     "<Display>" +
         kIds + "</Display></FrontPanel>\n",
     0, "1F3C:5A41 0 12 0 0 0 0 0"},
    // "<!ENTITY" in comments, instructions, a literal and a CDATA section declares nothing.
    {"EntityOnlyMentioned", kEntityMentioned, 0, "1F3C:5A41 0 12 0 0 0 0 0"},
    {"EntityOnlyMentionedUtf16", Utf16(kEntityMentioned, true), 0, "1F3C:5A41 0 12 0 0 0 0 0"},
    {"BareDocumentType",
     "<!DOCTYPE FrontPanel><FrontPanel><Display>" + kIds + "</Display></FrontPanel>", 0,
     "1F3C:5A41 0 12 0 0 0 0 0"},
    {"AnElementsTextIsItsOwnNotItsInnerElements",
     Document("<VID>1F<Note>99</Note>3C</VID><PID>5A41</PID><DisplayColumns>12</DisplayColumns>"),
     0, "1F3C:5A41 0 12 0 0 0 0 0"},
    {"OneMebibyteExactlyStillLoads", Padded(Document(kIds), kMaxDisplayPropsBytes), 0,
     "1F3C:5A41 0 12 0 0 0 0 0"},
};
TEST(DisplayPropsFiles, StoreTheValuesOpenThePanelAndPrepareTheConverter) {
    for (const PropsCase& c : kPropsCases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        PanelUnderTest t;
        const std::string path = folder.Write("DisplayProps.xml", c.xml);
        EXPECT_EQ(InitializePanel(*t.panel, path, *CreateSystemXmlLoader()), c.result);
        EXPECT_EQ(t.Properties(), c.properties);
        // The converter is prepared whether or not a panel was found.
        EXPECT_EQ(t.converter->codePages, "1252->850/16");
        // The brightness report reaches the panel when there is one.
        EXPECT_EQ(t.panel->IsOpen(), c.result == kErrorSuccess);
        const auto brightness =
            test::Stream().Add(2, static_cast<std::uint8_t>(t.panel->Config().brightness)).reports;
        EXPECT_EQ(t.bus.Reports(), c.result == kErrorSuccess ? brightness : test::ReportStream());
    }
}

// Files that cannot be loaded: 2, with the panel left exactly as constructed.
void ExpectUntouched(const PanelUnderTest& t) {
    EXPECT_EQ(t.Properties(), kConstructed);
    EXPECT_EQ(t.bus.AccessCount(), 0u);
    EXPECT_EQ(t.converter->openCalls, 0);
    EXPECT_EQ(t.converter->codePages, "");
}

std::string Nested(int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) open += "<e>", close += "</e>";
    return open + close;
}
const std::pair<const char*, std::string> kUnloadable[] = {
    {"Unclosed", "<FrontPanel><Display><VID>1F3C</VID>"},
    {"Empty", ""},
    {"NotXml", "VID=1F3C\n"},
    {"TwoRoots", "<FrontPanel/><FrontPanel/>"},
    {"InternalEntity",
     "<!DOCTYPE FrontPanel [<!ENTITY v \"1F3C\">]><FrontPanel><Display><VID>&v;"
     "</VID><PID>5A41</PID></Display></FrontPanel>"},
    {"ExternalEntity",
     "<!DOCTYPE FrontPanel [<!ENTITY ids SYSTEM \"ids.xml\">]>"
     "<FrontPanel>&ids;</FrontPanel>"},
    {"ParameterEntity", "<!DOCTYPE FrontPanel [<!ENTITY % p \"x\">]><FrontPanel><Display>" + kIds +
                            "</Display></FrontPanel>"},
    {"EntityAfterAComment",
     "<!DOCTYPE FrontPanel [<!-- ] --><!ENTITY v \"1F3C\">]><FrontPanel>"
     "<Display>" +
         kIds + "</Display></FrontPanel>"},
    {"EntityInUtf16", Utf16("<!DOCTYPE FrontPanel [<!ENTITY v \"1F3C\">]><FrontPanel><Display>" +
                                kIds + "</Display></FrontPanel>",
                            false)},
    {"NestedTooDeeply", Nested(300)},
    {"OneByteOverAMebibyte", Padded(Document(kIds), kMaxDisplayPropsBytes + 1)},
};

// A loader that fails as a parser that cannot be made, or whose load call fails, would; or that
// runs out of memory.
class FailingLoader final : public XmlLoader {
  public:
    explicit FailingLoader(XmlLoadStatus status) : status_(status) {}
    XmlLoadStatus Load(const std::string&, XmlNode&, std::uint32_t& error) override {
        if (status_ == XmlLoadStatus::kLoaded) throw std::bad_alloc();
        error = 5;
        return status_;
    }
    XmlLoadStatus status_;
};

TEST(DisplayPropsLoad, UnloadableFilesNoParserOrAFailedLoadCallGiveTwoAndTouchNothing) {
    ScratchFolder folder;
    folder.Write("ids.xml", "<Display>" + kIds + "</Display>");  // what an entity could name
    for (const auto& [name, xml] : kUnloadable) {
        SCOPED_TRACE(name);
        PanelUnderTest t;
        const std::string path = folder.Write("DisplayProps.xml", xml);
        EXPECT_EQ(InitializePanel(*t.panel, path, *CreateSystemXmlLoader()), kErrorFileNotFound);
        ExpectUntouched(t);
    }
    std::filesystem::remove(folder.PathOf("DisplayProps.xml"));
    FailingLoader noParser(XmlLoadStatus::kCannotCreate);
    FailingLoader callFailed(XmlLoadStatus::kCallFailed);
    FailingLoader noMemory(XmlLoadStatus::kLoaded);
    const std::unique_ptr<XmlLoader> system = CreateSystemXmlLoader();
    const std::pair<std::string, XmlLoader*> cases[] = {
        {folder.PathOf("DisplayProps.xml"), system.get()},
        {"", system.get()},
        {"DisplayProps.xml", &noParser},
        {"DisplayProps.xml", &callFailed},
        {"DisplayProps.xml", &noMemory}};
    for (const auto& [path, loader] : cases) {
        SCOPED_TRACE(&path - &cases[0].first);
        PanelUnderTest t;
        EXPECT_EQ(InitializePanel(*t.panel, path, *loader), kErrorFileNotFound);
        ExpectUntouched(t);
    }
}

// The dimming rules as one line: idle seconds/level, video level, night from-until/level, blank.
std::string Rules(const DimmingConfig& d) {
    char text[128];
    std::snprintf(text, sizeof text, "idle %s%u/%u video %s%u night %s%u-%u/%u blank %d",
                  d.idle ? "" : "-", d.idleAfterMs / 1000, d.idleLevel, d.video ? "" : "-",
                  d.videoLevel, d.night ? "" : "-", d.nightFromMs / 60000, d.nightUntilMs / 60000,
                  d.nightLevel, d.blankInStandby ? 1 : 0);
    return text;
}

TEST(DisplayPropsDimming, RulesAreReadAndAMalformedOneGivesTwoTouchingNothing) {
    const std::string none = "idle -0/0 video -0 night -0-0/0 blank 0";
    const std::pair<std::string, std::string> cases[] = {
        {"", none},
        {"<Dimming/>", none},
        {"<Dimming><IdleAfterSeconds> 300 </IdleAfterSeconds><IdleBrightness>40</IdleBrightness>"
         "<VideoBrightness>80</VideoBrightness><NightFrom>23:00</NightFrom>"
         "<NightUntil>7:30</NightUntil><NightBrightness>0</NightBrightness>"
         "<BlankInStandby>True</BlankInStandby></Dimming>",
         "idle 300/40 video 80 night 1380-450/0 blank 1"},
        {"<Dimming><!-- video only --><VideoBrightness>255</VideoBrightness></Dimming>",
         "idle -0/0 video 255 night -0-0/0 blank 0"},
        // Outside Dimming the names mean nothing.
        {"<VideoBrightness>20</VideoBrightness>", none},
        // Malformed, each on its own.
        {"<Dimming><IdleAfterSeconds>300</IdleAfterSeconds></Dimming>", "2"},
        {"<Dimming><IdleBrightness>40</IdleBrightness></Dimming>", "2"},
        {"<Dimming><IdleAfterSeconds>0</IdleAfterSeconds><IdleBrightness>4</IdleBrightness>"
         "</Dimming>",
         "2"},
        {"<Dimming><IdleAfterSeconds>5m</IdleAfterSeconds><IdleBrightness>4</IdleBrightness>"
         "</Dimming>",
         "2"},
        {"<Dimming><VideoBrightness>256</VideoBrightness></Dimming>", "2"},
        {"<Dimming><VideoBrightness>-1</VideoBrightness></Dimming>", "2"},
        {"<Dimming><VideoBrightness/></Dimming>", "2"},
        {"<Dimming><NightFrom>23:00</NightFrom><NightUntil>24:00</NightUntil>"
         "<NightBrightness>9</NightBrightness></Dimming>",
         "2"},
        {"<Dimming><NightFrom>23:00</NightFrom><NightUntil>23:00</NightUntil>"
         "<NightBrightness>9</NightBrightness></Dimming>",
         "2"},
        {"<Dimming><NightFrom>23</NightFrom><NightUntil>6:00</NightUntil>"
         "<NightBrightness>9</NightBrightness></Dimming>",
         "2"},
        {"<Dimming><NightFrom>23:00</NightFrom><NightBrightness>9</NightBrightness></Dimming>",
         "2"},
        {"<Dimming><BlankInStandby>true</BlankInStandby></Dimming>", "2"},
    };
    for (const auto& [dimming, expected] : cases) {
        SCOPED_TRACE(dimming);
        ScratchFolder folder;
        const std::string path = folder.Write(
            "DisplayProps.xml", Document(kIds + "<Brightness>51</Brightness>" + dimming));
        PanelConfig config;
        config.brightness = 7;
        const std::uint32_t result = ReadDisplayProps(path, *CreateSystemXmlLoader(), config);
        if (expected == "2") {
            EXPECT_EQ(result, kErrorFileNotFound);
            EXPECT_EQ(config.brightness, 7);  // nothing of the file is taken
        } else {
            EXPECT_EQ(result, kErrorSuccess);
            EXPECT_EQ(config.brightness, 51);
            EXPECT_EQ(Rules(config.dimming), expected);
        }
    }
}

TEST(DisplayPropsLoad, ZeroColumnsSendNoCharacterReportEver) {
    ScratchFolder folder;
    PanelUnderTest t;
    t.converter->openResult = kEFail;  // the code pages are set all the same
    const std::string path =
        folder.Write("DisplayProps.xml", Document("<VID>1F3C</VID><PID>5A41</PID>"));
    ASSERT_EQ(InitializePanel(*t.panel, path, *CreateSystemXmlLoader()), kErrorSuccess);
    EXPECT_EQ(t.converter->codePages, "1252->850/16");
    t.panel->BeginFrame().WriteLine("HELLO", kFirstLine);
    t.panel->BeginFrame().WriteOrScrollLine("A TEXT LONGER THAN ANY LINE", kSecondLine);
    MediaState state;
    state.mediaMode = kModeCd;
    state.transportState = kTransportPlaying;
    std::snprintf(state.trackName, sizeof state.trackName, "%s", "Some track name");
    ShowMediaState(*t.panel, state);
    ShowStoppingScreen(*t.panel);
    t.panel->StopScrolling();
    EXPECT_GT(t.bus.ReportCount(), 20u);  // icons, bar and screens
    for (const auto& report : t.bus.Reports()) EXPECT_NE(report[0], kCharacterReport);
}

TEST(DisplayPropsLoad, OnThePlatformsHidBusWithoutThePanelTheAnswerIs1167) {
    // SetupAPI on Windows, hidraw elsewhere: every present interface is looked at, none matches.
    ScratchFolder folder;
    const std::string path =
        folder.Write("DisplayProps.xml", Document("<VID>1F3C</VID><PID>FFFE</PID>"));
    const std::unique_ptr<HidBus> bus = CreateSystemHidBus();
    test::RecordingSleeper sleeper;
    PanelDevice panel(*bus, std::make_unique<RecordingConverter>(), sleeper);
    EXPECT_EQ(InitializePanel(panel, path, *CreateSystemXmlLoader()), kErrorDeviceNotConnected);
    EXPECT_FALSE(panel.IsOpen());
}

TEST(DisplayPropsPath, IsTheFileBesideTheRunningProgram) {
    const std::filesystem::path file(DefaultDisplayPropsPath());
    EXPECT_EQ(file.filename().string(), "DisplayProps.xml");
    ASSERT_TRUE(file.is_absolute()) << file;
    bool programThere = false;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
        const std::string name = entry.path().stem().string();
        programThere = programThere || name == "display_props_test";
    }
    EXPECT_TRUE(programThere) << file;
}

}  // namespace
}  // namespace zelk
