// DisplayProps.xml as the panel reads it at start-up: a table of small files, the files that
// cannot be loaded, and what the panel does with the values read.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/win_codes.h"
#include "service/core/display_composition.h"
#include "service/panel/display_props.h"
#include "service/panel/virtual_panel.h"
#include "tests/display/display_test_support.h"

namespace zelk {
namespace {

using testing::ExpectedStream;
using testing::InstantSleeper;
using testing::RecordingConverter;
using testing::ScratchFolder;

std::string Document(const std::string& displayBody) {
    return "<?xml version=\"1.0\"?>\n<FrontPanel>\n  <Display>\n" + displayBody +
           "  </Display>\n</FrontPanel>\n";
}

const std::string kStandardBody =
    "    <VID>1F3C</VID>\n    <PID>5A41</PID>\n    <DisplayColumns>12</DisplayColumns>\n";

// One panel on a virtual bus that holds a device with the given ids.
struct PanelUnderTest {
    explicit PanelUnderTest(std::uint16_t vendor = 0x1F3C, std::uint16_t product = 0x5A41)
        : bus(VirtualDeviceConfig{vendor, product, 8, true, true, ""}) {
        auto recording = std::make_unique<RecordingConverter>();
        converter = recording.get();
        panel = std::make_unique<PanelDevice>(bus, std::move(recording), sleeper);
    }
    VirtualPanelBus bus;
    InstantSleeper sleeper;
    RecordingConverter* converter = nullptr;
    std::unique_ptr<PanelDevice> panel;
};

struct PropsCase {
    const char* name;
    std::string xml;
    std::uint32_t result;
    std::uint16_t vendorId;
    std::uint16_t productId;
    std::int16_t displayRows;
    std::int16_t displayColumns;
    std::int32_t displayType;
    bool colorDisplay;
    bool scrolling;
    std::int32_t volumeControl;
    std::int32_t brightness;
};

void PrintTo(const PropsCase& c, std::ostream* out) {
    *out << c.name;
}

class DisplayPropsFiles : public ::testing::TestWithParam<PropsCase> {};

TEST_P(DisplayPropsFiles, StoresTheValuesOpensThePanelAndPreparesTheConverter) {
    const PropsCase& c = GetParam();
    ScratchFolder folder;
    PanelUnderTest t;
    const std::string path = folder.Write("DisplayProps.xml", c.xml);

    const std::uint32_t result = InitializePanel(*t.panel, path, *CreateSystemXmlLoader());

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(t.panel->vendorId, c.vendorId);
    EXPECT_EQ(t.panel->productId, c.productId);
    EXPECT_EQ(t.panel->displayRows, c.displayRows);
    EXPECT_EQ(t.panel->displayColumns, c.displayColumns);
    EXPECT_EQ(t.panel->displayType, c.displayType);
    EXPECT_EQ(t.panel->colorDisplay, c.colorDisplay);
    EXPECT_EQ(t.panel->scrolling, c.scrolling);
    EXPECT_EQ(t.panel->volumeControl, c.volumeControl);
    EXPECT_EQ(t.panel->brightness, c.brightness);

    // The converter is prepared whether or not a panel was found.
    EXPECT_EQ(t.converter->openCalls, 1);
    EXPECT_EQ(t.converter->setCodePagesCalls, 1);
    EXPECT_TRUE(t.converter->openedBeforeCodePages);
    EXPECT_EQ(t.converter->source, 1252u);
    EXPECT_EQ(t.converter->destination, 850u);
    EXPECT_EQ(t.converter->flags, 16u);

    // The brightness report goes to the panel when there is one; without one it fails unseen.
    EXPECT_EQ(t.panel->IsOpen(), c.result == kErrorSuccess);
    if (c.result == kErrorSuccess) {
        const auto expected =
            ExpectedStream().Brightness(static_cast<std::uint8_t>(c.brightness & 0xFF)).reports();
        EXPECT_EQ(t.bus.Reports(), expected);
    } else {
        EXPECT_EQ(t.bus.ReportCount(), 0u);
    }
}

const PropsCase kPropsCases[] = {
    {"AllNinePropertiesHexAndDecimal",
     Document("    <VID>0x1F3C</VID>\n    <PID>5A41</PID>\n    <Type>Graphic</Type>\n"
              "    <ColorDisplay>True</ColorDisplay>\n    <Scrolling>True</Scrolling>\n"
              "    <DisplayRows>2</DisplayRows>\n    <DisplayColumns>16</DisplayColumns>\n"
              "    <VolumeControl>-7</VolumeControl>\n    <Brightness>300</Brightness>\n"),
     0, 0x1F3C, 0x5A41, 2, 16, 1, true, true, -7, 300},
    {"HexWithBlanksSignLowerCaseAndTrailingLetters",
     Document("    <VID>  +0X1f3c</VID>\n    <PID>5a41zz</PID>\n"
              "    <DisplayColumns>12 columns</DisplayColumns>\n"),
     0, 0x1F3C, 0x5A41, 0, 12, 0, false, false, 0, 0},
    {"HexAndDecimalKeepTheirLow16Bits",
     Document("    <VID>0x11F3C</VID>\n    <PID>-0x1</PID>\n    <DisplayRows>65538</DisplayRows>\n"
              "    <DisplayColumns>-1</DisplayColumns>\n"),
     kErrorDeviceNotConnected, 0x1F3C, 0xFFFF, 2, -1, 0, false, false, 0, 0},
    {"NamedValuesAreCaseExact",
     Document(kStandardBody + "    <Type>graphic</Type>\n    <ColorDisplay>TRUE</ColorDisplay>\n"
                              "    <Scrolling>yes</Scrolling>\n"),
     0, 0x1F3C, 0x5A41, 0, 12, 0, false, false, 0, 0},
    {"FalseAndAlphanumericAreStoredToo",
     Document(kStandardBody +
              "    <Type>Alphanumeric</Type>\n    <ColorDisplay>False</ColorDisplay>\n"
              "    <Scrolling>False</Scrolling>\n"),
     0, 0x1F3C, 0x5A41, 0, 12, 0, false, false, 0, 0},
    {"BlanksAroundATextAreNotPartOfIt",
     Document(kStandardBody + "    <Type>\n      Graphic\n    </Type>\n"
                              "    <Scrolling> True </Scrolling>\n"),
     0, 0x1F3C, 0x5A41, 0, 12, 1, false, true, 0, 0},
    {"TheFirstOfTwoVidElementsCounts",
     Document("    <VID>1F3C</VID>\n    <VID>FFFF</VID>\n    <PID>5A41</PID>\n"
              "    <DisplayColumns>12</DisplayColumns>\n"),
     0, 0x1F3C, 0x5A41, 0, 12, 0, false, false, 0, 0},
    {"AVidDirectlyUnderTheRootIsNotFound",
     "<FrontPanel>\n  <VID>1F3C</VID>\n  <Display>\n    <PID>5A41</PID>\n"
     "    <DisplayColumns>12</DisplayColumns>\n  </Display>\n</FrontPanel>\n",
     kErrorDeviceNotConnected, 0, 0x5A41, 0, 12, 0, false, false, 0, 0},
    {"CommentsTextAndInstructionsBeforeDisplayAreSkipped",
     "<?xml version=\"1.0\"?>\n<!-- panel of the living room -->\n<FrontPanel>\n"
     "  some text\n  <!-- the display -->\n  <?panel-tool version=\"2\"?>\n"
     "  <Other><Display><VID>FFFF</VID></Display></Other>\n"
     "  <Display><!-- ids --><VID>1F3C</VID><PID>5A41</PID>"
     "<DisplayColumns>12</DisplayColumns></Display>\n</FrontPanel>\n",
     0, 0x1F3C, 0x5A41, 0, 12, 0, false, false, 0, 0},
    {"DisplayMatchesOnlyItsExactName",
     "<FrontPanel><display><VID>1F3C</VID></display></FrontPanel>", kErrorDeviceNotConnected, 0, 0,
     0, 0, 0, false, false, 0, 0},
    {"NoDisplayGivesZeroNumbersAndKeepsTheRest", "<FrontPanel/>", kErrorDeviceNotConnected, 0, 0, 0,
     0, 0, false, false, 0, 0},
    {"WrongIdsFindNoPanel",
     Document("    <VID>1234</VID>\n    <PID>5A41</PID>\n    <DisplayColumns>12</DisplayColumns>\n"
              "    <Brightness>164</Brightness>\n"),
     kErrorDeviceNotConnected, 0x1234, 0x5A41, 0, 12, 0, false, false, 0, 164},
    {"AnEmptyDisplayColumnsGivesZero",
     Document("    <VID>1F3C</VID>\n    <PID>5A41</PID>\n    <DisplayColumns></DisplayColumns>\n"),
     0, 0x1F3C, 0x5A41, 0, 0, 0, false, false, 0, 0},
    {"ATypedNumberHasNoStringValue",
     "<FrontPanel xmlns:dt=\"urn:schemas-microsoft-com:datatypes\"><Display>"
     "<VID>1F3C</VID><PID>5A41</PID><DisplayColumns dt:dt=\"int\">16</DisplayColumns>"
     "<Type dt:dt=\"string\">Graphic</Type></Display></FrontPanel>",
     0, 0x1F3C, 0x5A41, 0, 0, 1, false, false, 0, 0},
    {"EntityAndCharacterReferencesAreResolved",
     Document("    <VID>&#x31;F3C</VID>\n    <PID><![CDATA[5A41]]></PID>\n"
              "    <DisplayColumns>12</DisplayColumns>\n    <Type>Gr&#97;phic</Type>\n"),
     0, 0x1F3C, 0x5A41, 0, 12, 1, false, false, 0, 0},
    {"AWindowsCodePageDeclarationLoads",
     "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<FrontPanel><!-- caf\xE9 \x93"
     "a\x94 -->"
     "<Display><VID>1F3C</VID><PID>5A41</PID><DisplayColumns>12</DisplayColumns>"
     "</Display></FrontPanel>\n",
     0, 0x1F3C, 0x5A41, 0, 12, 0, false, false, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Table, DisplayPropsFiles, ::testing::ValuesIn(kPropsCases),
                         [](const ::testing::TestParamInfo<PropsCase>& info) {
                             return std::string(info.param.name);
                         });

// Files that cannot be loaded: 2, and the panel is left exactly as constructed.
struct UnloadableCase {
    const char* name;
    std::string content;
};

void PrintTo(const UnloadableCase& c, std::ostream* out) {
    *out << c.name;
}

class UnloadableFiles : public ::testing::TestWithParam<UnloadableCase> {};

void ExpectUntouched(const PanelUnderTest& t) {
    EXPECT_EQ(t.panel->vendorId, 0x1F3C);
    EXPECT_EQ(t.panel->productId, 0x5A41);
    EXPECT_EQ(t.panel->displayRows, 2);
    EXPECT_EQ(t.panel->displayColumns, 12);
    EXPECT_EQ(t.panel->brightness, 0);
    EXPECT_FALSE(t.panel->IsOpen());
    EXPECT_EQ(t.bus.AccessCount(), 0u);
    EXPECT_EQ(t.bus.ReportCount(), 0u);
    EXPECT_EQ(t.converter->openCalls, 0);
    EXPECT_EQ(t.converter->setCodePagesCalls, 0);
}

TEST_P(UnloadableFiles, GiveTwoAndLeaveThePanelUntouched) {
    ScratchFolder folder;
    PanelUnderTest t;
    const std::string path = folder.Write("DisplayProps.xml", GetParam().content);
    EXPECT_EQ(InitializePanel(*t.panel, path, *CreateSystemXmlLoader()), kErrorFileNotFound);
    ExpectUntouched(t);
}

std::string DeeplyNested(int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<e>";
    for (int i = 0; i < depth; ++i) xml += "</e>";
    return xml;
}

const UnloadableCase kUnloadableCases[] = {
    {"Unclosed", "<FrontPanel><Display><VID>1F3C</VID>"},
    {"MismatchedTags", "<FrontPanel><Display></FrontPanel></Display>"},
    {"Empty", ""},
    {"NotXml", "VID=1F3C\nPID=5A41\n"},
    {"TwoRoots", "<FrontPanel/><FrontPanel/>"},
    {"InternalEntity",
     "<?xml version=\"1.0\"?>\n<!DOCTYPE FrontPanel [<!ENTITY vid \"1F3C\">]>\n"
     "<FrontPanel><Display><VID>&vid;</VID><PID>5A41</PID></Display></FrontPanel>\n"},
    {"ExternalEntity",
     "<?xml version=\"1.0\"?>\n<!DOCTYPE FrontPanel [<!ENTITY ids SYSTEM \"ids.xml\">]>\n"
     "<FrontPanel><Display>&ids;</Display></FrontPanel>\n"},
    {"DocumentTypeOnly",
     "<?xml version=\"1.0\"?>\n<!DOCTYPE FrontPanel>\n<FrontPanel><Display><VID>1F3C</VID>"
     "<PID>5A41</PID><DisplayColumns>12</DisplayColumns></Display></FrontPanel>\n"},
    {"NestedTooDeeply", DeeplyNested(300)},
};

INSTANTIATE_TEST_SUITE_P(Table, UnloadableFiles, ::testing::ValuesIn(kUnloadableCases),
                         [](const ::testing::TestParamInfo<UnloadableCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(DisplayPropsLoad, AMissingFileOrAnEmptyPathGivesTwo) {
    ScratchFolder folder;
    PanelUnderTest t;
    EXPECT_EQ(
        InitializePanel(*t.panel, folder.PathOf("DisplayProps.xml"), *CreateSystemXmlLoader()),
        kErrorFileNotFound);
    EXPECT_EQ(InitializePanel(*t.panel, "", *CreateSystemXmlLoader()), kErrorFileNotFound);
    ExpectUntouched(t);
}

TEST(DisplayPropsLoad, ThePathOfAnExternalFileIsNeverOpened) {
    // The entity would name a file that exists and holds a usable Display element.
    ScratchFolder folder;
    folder.Write("ids.xml",
                 "<Display><VID>1F3C</VID><PID>5A41</PID><DisplayColumns>12</DisplayColumns>"
                 "</Display>");
    const std::string path =
        folder.Write("DisplayProps.xml",
                     "<?xml version=\"1.0\"?>\n<!DOCTYPE FrontPanel [<!ENTITY ids SYSTEM "
                     "\"ids.xml\">]>\n<FrontPanel>&ids;</FrontPanel>\n");
    PanelUnderTest t;
    EXPECT_EQ(InitializePanel(*t.panel, path, *CreateSystemXmlLoader()), kErrorFileNotFound);
    ExpectUntouched(t);
}

// A loader that cannot do its work, as when the DOM object cannot be made or its load fails.
class FailingLoader final : public XmlLoader {
  public:
    explicit FailingLoader(XmlLoadStatus status) : status_(status) {}
    XmlLoadStatus Load(const std::string&, XmlNode& root, std::uint32_t& error) override {
        root.isElement = true;
        root.tagName = "FrontPanel";
        error = status_ == XmlLoadStatus::kCallFailed ? 5u : 0u;
        return status_;
    }

  private:
    XmlLoadStatus status_;
};

TEST(DisplayPropsLoad, NoParserOrAFailedLoadCallGivesTwoSoTheServiceStops) {
    for (const XmlLoadStatus status :
         {XmlLoadStatus::kCannotCreate, XmlLoadStatus::kCallFailed, XmlLoadStatus::kNotLoaded}) {
        PanelUnderTest t;
        FailingLoader loader(status);
        EXPECT_EQ(InitializePanel(*t.panel, "DisplayProps.xml", loader), kErrorFileNotFound)
            << static_cast<int>(status);
        ExpectUntouched(t);
    }
}

TEST(DisplayPropsLoad, TheConverterIsAskedForItsCodePagesEvenWhenOpenFails) {
    ScratchFolder folder;
    PanelUnderTest t;
    t.converter->openResult = kEFail;
    const std::string path = folder.Write("DisplayProps.xml", Document(kStandardBody));
    EXPECT_EQ(InitializePanel(*t.panel, path, *CreateSystemXmlLoader()), kErrorSuccess);
    EXPECT_EQ(t.converter->openCalls, 1);
    EXPECT_EQ(t.converter->setCodePagesCalls, 1);
}

TEST(DisplayPropsLoad, TheFirstMatchingPanelInEnumerationOrderIsOpened) {
    ScratchFolder folder;
    PanelUnderTest t(0x1F3C, 0x0001);  // same vendor, other product
    t.bus.AddDevice(VirtualDeviceConfig{0x1F3C, 0x5A41, 8, true, true, ""});
    t.bus.AddDevice(VirtualDeviceConfig{0x1F3C, 0x5A41, 8, true, true, ""});
    const std::string path =
        folder.Write("DisplayProps.xml", Document(kStandardBody + "<Brightness>175</Brightness>"));
    EXPECT_EQ(InitializePanel(*t.panel, path, *CreateSystemXmlLoader()), kErrorSuccess);
    EXPECT_EQ(t.bus.ReportCount(0), 0u);
    EXPECT_EQ(t.bus.Picture(1).brightness, 0xAF);
    EXPECT_EQ(t.bus.ReportCount(2), 0u);
}

TEST(DisplayPropsLoad, ZeroColumnsSendNoCharacterReportEver) {
    ScratchFolder folder;
    PanelUnderTest t;
    const std::string path =
        folder.Write("DisplayProps.xml",
                     Document("    <VID>1F3C</VID>\n    <PID>5A41</PID>\n    <DisplayColumns/>\n"));
    ASSERT_EQ(InitializePanel(*t.panel, path, *CreateSystemXmlLoader()), kErrorSuccess);
    ASSERT_EQ(t.panel->displayColumns, 0);

    t.panel->WriteLine("HELLO", kFirstLine, false);
    t.panel->WriteOrScrollLine("A TEXT LONGER THAN ANY LINE", kSecondLine);
    MediaState state;
    state.mediaMode = kModeCd;
    state.transportState = kTransportPlaying;
    std::snprintf(state.trackName, sizeof state.trackName, "%s", "Some track name");
    ShowMediaState(*t.panel, state);
    ShowStoppingScreen(*t.panel);
    t.panel->StopScrolling();

    std::size_t characterReports = 0;
    for (const auto& report : t.bus.Reports()) {
        if (!report.empty() && report[0] == kCharacterReport) ++characterReports;
    }
    EXPECT_EQ(characterReports, 0u);
    EXPECT_GT(t.bus.ReportCount(), 1u);  // the icons, bar and screens still went out
}

TEST(DisplayPropsLoad, OnThePlatformsHidBusWithoutThePanelTheAnswerIs1167) {
    // The real enumeration (SetupAPI on Windows, hidraw elsewhere) walks every present HID
    // interface and finds none with these ids.
    ScratchFolder folder;
    const std::string path = folder.Write(
        "DisplayProps.xml",
        Document(
            "    <VID>1F3C</VID>\n    <PID>FFFE</PID>\n    <DisplayColumns>12</DisplayColumns>\n"));
    const std::unique_ptr<HidBus> bus = CreateSystemHidBus();
    InstantSleeper sleeper;
    auto recording = std::make_unique<RecordingConverter>();
    RecordingConverter* converter = recording.get();
    PanelDevice panel(*bus, std::move(recording), sleeper);
    EXPECT_EQ(InitializePanel(panel, path, *CreateSystemXmlLoader()), kErrorDeviceNotConnected);
    EXPECT_FALSE(panel.IsOpen());
    EXPECT_EQ(panel.productId, 0xFFFE);
    EXPECT_EQ(converter->setCodePagesCalls, 1);
}

TEST(DisplayPropsPath, IsTheFileBesideTheRunningProgram) {
    const std::string path = DefaultDisplayPropsPath();
    ASSERT_FALSE(path.empty());
    const std::filesystem::path file(path);
    EXPECT_EQ(file.filename().string(), "DisplayProps.xml");
    EXPECT_TRUE(file.is_absolute()) << path;
    EXPECT_TRUE(std::filesystem::is_directory(file.parent_path())) << path;
    // This test program lies in that folder.
    bool programFound = false;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name == "display_props_test" || name == "display_props_test.exe") programFound = true;
    }
    EXPECT_TRUE(programFound) << path;
}

}  // namespace
}  // namespace zelk
