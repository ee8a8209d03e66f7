#include "service/lcdproc/lcd_protocol.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

#include "service/lcdproc/lcd_tokenizer.h"

namespace zelk {
namespace {

constexpr std::uint64_t kClockKey = 1;
constexpr std::uint64_t kMediaKey = 2;
// Numbers in commands (coordinates, lengths, durations) are kept within this.
constexpr int kMaxNumber = 100000;
// Echoed parts of a client's command are cut to this length.
constexpr std::size_t kMaxEcho = 40;

const char kSuccess[] = "success";

bool Equals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<long long> ParseNumber(std::string_view text, long long low, long long high) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> ParseInt(std::string_view text, int low = -kMaxNumber, int high = kMaxNumber) {
    const auto value = ParseNumber(text, low, high);
    if (!value) return std::nullopt;
    return static_cast<int>(*value);
}

// A part of the client's command fit to go back in a reply: one line, not too long.
std::string Echo(std::string_view text) {
    std::string out(text.substr(0, kMaxEcho));
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return out;
}

std::string Huh(std::string_view reason) {
    return "huh? " + std::string(reason);
}

std::string_view OptionName(std::string_view arg) {
    if (!arg.empty() && arg.front() == '-') arg.remove_prefix(1);
    return arg;
}

std::optional<LcdPriority> ParsePriority(std::string_view text) {
    static constexpr std::pair<const char*, LcdPriority> kNames[] = {
        {"hidden", LcdPriority::kHidden}, {"background", LcdPriority::kBackground},
        {"info", LcdPriority::kInfo},     {"foreground", LcdPriority::kForeground},
        {"alert", LcdPriority::kAlert},   {"input", LcdPriority::kInput},
    };
    for (const auto& [name, priority] : kNames) {
        if (Equals(text, name)) return priority;
    }
    // The older numeric form: small numbers are the most important.
    const auto number = ParseInt(text, 1, kMaxNumber);
    if (!number) return std::nullopt;
    if (*number <= 64) return LcdPriority::kForeground;
    if (*number <= 192) return LcdPriority::kInfo;
    return LcdPriority::kBackground;
}

// on / off / toggle / blink / flash (and open, "as the client says", where `allowOpen`).
// Returns false for another word; `value` is what the backlight becomes.
bool ParseBacklight(std::string_view text, bool current, bool allowOpen,
                    std::optional<bool>& value) {
    if (Equals(text, "on") || Equals(text, "blink") || Equals(text, "flash")) {
        value = true;
    } else if (Equals(text, "off")) {
        value = false;
    } else if (Equals(text, "toggle")) {
        value = !current;
    } else if (allowOpen && Equals(text, "open")) {
        value.reset();
    } else {
        return false;
    }
    return true;
}

bool OneOf(std::string_view text, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(), [&](const char* w) { return Equals(text, w); });
}

std::optional<LcdWidgetType> ParseWidgetType(std::string_view text) {
    static constexpr std::pair<const char*, LcdWidgetType> kTypes[] = {
        {"string", LcdWidgetType::kString},     {"title", LcdWidgetType::kTitle},
        {"hbar", LcdWidgetType::kHbar},         {"vbar", LcdWidgetType::kVbar},
        {"pbar", LcdWidgetType::kPbar},         {"icon", LcdWidgetType::kIcon},
        {"scroller", LcdWidgetType::kScroller}, {"frame", LcdWidgetType::kFrame},
        {"num", LcdWidgetType::kNum},
    };
    for (const auto& [name, type] : kTypes) {
        if (Equals(text, name)) return type;
    }
    return std::nullopt;
}

// The values of widget_set after the screen and widget ids, into `w`; an error text or empty.
std::string ParseWidgetValues(const std::vector<std::string>& args, LcdWidget& w) {
    const std::size_t n = args.size() - 3;
    auto arg = [&](std::size_t i) -> const std::string& { return args[3 + i]; };
    auto ints = [&](std::initializer_list<int*> out) {
        std::size_t i = 0;
        for (int* target : out) {
            const auto value = ParseInt(arg(i++));
            if (!value) return false;
            *target = *value;
        }
        return true;
    };
    const char* kWrong = "Wrong number of arguments";
    const char* kNumbers = "Invalid coordinates";
    switch (w.type) {
        case LcdWidgetType::kString:
            if (n != 3) return kWrong;
            if (!ints({&w.x, &w.y})) return kNumbers;
            w.text = arg(2);
            return {};
        case LcdWidgetType::kTitle:
            if (n != 1) return kWrong;
            w.text = arg(0);
            return {};
        case LcdWidgetType::kHbar:
        case LcdWidgetType::kVbar:
            if (n != 3) return kWrong;
            if (!ints({&w.x, &w.y, &w.length})) return kNumbers;
            return {};
        case LcdWidgetType::kPbar:
            if (n < 4 || n > 6) return kWrong;
            if (!ints({&w.x, &w.y, &w.length, &w.promille})) return kNumbers;
            w.beginLabel = n > 4 ? arg(4) : std::string();
            w.endLabel = n > 5 ? arg(5) : std::string();
            return {};
        case LcdWidgetType::kIcon: {
            if (n != 3) return kWrong;
            if (!ints({&w.x, &w.y})) return kNumbers;
            const auto glyph = LcdIconGlyph(arg(2));
            if (!glyph) return "Invalid icon name";
            w.glyph = *glyph;
            return {};
        }
        case LcdWidgetType::kScroller:
            if (n != 7) return kWrong;
            if (!ints({&w.x, &w.y, &w.right, &w.bottom})) return kNumbers;
            if (arg(4).size() != 1 ||
                std::string_view("hvm").find(arg(4)[0]) == std::string::npos) {
                return "Invalid direction";
            }
            w.direction = arg(4)[0];
            if (const auto speed = ParseInt(arg(5))) {
                w.speed = *speed;
            } else {
                return "Invalid speed";
            }
            w.text = arg(6);
            return {};
        case LcdWidgetType::kFrame:
            if (n != 8) return kWrong;
            if (!ints({&w.x, &w.y, &w.right, &w.bottom, &w.innerWidth, &w.innerHeight})) {
                return kNumbers;
            }
            if (arg(6) != "h" && arg(6) != "v") return "Invalid direction";
            w.direction = arg(6)[0];
            if (const auto speed = ParseInt(arg(7))) {
                w.speed = *speed;
            } else {
                return "Invalid speed";
            }
            return {};
        case LcdWidgetType::kNum:
            if (n != 2) return kWrong;
            if (!ints({&w.x})) return kNumbers;
            if (const auto digit = ParseInt(arg(1), 0, 10)) {
                w.digit = *digit;
            } else {
                return "Invalid number";
            }
            return {};
    }
    return kWrong;
}

}  // namespace

LcdProtocol::LcdProtocol(LineLink& link, Clock& clock, std::function<void()> changed,
                         LcdProtocolOptions options)
    : link_(link), clock_(clock), changed_(std::move(changed)), options_(std::move(options)) {
    MutexLock lock(mutex_);
    screens_[kClockKey].id = "clock";
    screens_[kMediaKey].id = "media";
    for (const auto& [key, screen] : screens_) ++Count(EffectivePriority(key, screen));
}

bool LcdProtocol::IsHttpRequestLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n && line[i] >= 'A' && line[i] <= 'Z') ++i;
    if (i == 0 || i >= n || line[i] != ' ') return false;
    const std::size_t target = ++i;
    while (i < n && line[i] != ' ') ++i;
    if (i == target || i >= n) return false;
    std::string_view version = line.substr(i + 1);
    if (version.substr(0, 5) != "HTTP/") return false;
    version.remove_prefix(5);
    const std::size_t dot = version.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot + 1 == version.size()) return false;
    auto digits = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return digits(version.substr(0, dot)) && digits(version.substr(dot + 1));
}

void LcdProtocol::OnConnect(LineClientId client) {
    MutexLock lock(mutex_);
    clients_[client];
}

void LcdProtocol::OnLine(LineClientId id, std::string_view line) {
    Outbox out;
    bool notify = false;
    {
        MutexLock lock(mutex_);
        const std::uint64_t now = clock_.NowMs();
        Client& client = clients_[id];
        if (client.closing) return;
        const bool first = !client.sawLine;
        client.sawLine = true;
        if (first && IsHttpRequestLine(line)) {
            client.closing = true;
            out.closes.push_back(id);
        } else {
            Reconcile(now, out);
            const std::uint64_t shownBefore = shown_;
            const bool rotatingBefore = CandidateCount() > 1;
            shownTouched_ = false;
            now_ = now;
            std::string reply;
            std::vector<std::string> args;
            const TokenizeError error =
                line.size() > options_.maxLineBytes
                    ? TokenizeError::kArgumentTooLong
                    : TokenizeLine(line, args, {64, options_.maxArgumentBytes});
            if (line.size() > options_.maxLineBytes) {
                reply = Strike(id, client, Huh("Line too long"), out);
            } else if (error == TokenizeError::kArgumentTooLong ||
                       error == TokenizeError::kTooManyArguments) {
                reply = Strike(id, client, Huh(TokenizeErrorText(error)), out);
            } else if (error != TokenizeError::kNone) {
                reply = Huh(TokenizeErrorText(error));
            } else if (!args.empty()) {
                reply = Execute(id, client, args, out);
            }
            Reconcile(now, out);
            notify =
                shownTouched_ || shown_ != shownBefore || (CandidateCount() > 1) != rotatingBefore;
            if (!reply.empty()) out.lines.emplace(out.lines.begin(), id, std::move(reply));
        }
    }
    Deliver(out);
    if (notify && changed_) changed_();
}

void LcdProtocol::OnDisconnect(LineClientId id) {
    Outbox out;
    bool notify = false;
    {
        MutexLock lock(mutex_);
        const auto it = clients_.find(id);
        if (it == clients_.end()) return;
        const std::uint64_t shownBefore = shown_;
        const bool rotatingBefore = CandidateCount() > 1;
        RemoveClientScreens(it->second);
        clients_.erase(it);
        Reconcile(clock_.NowMs(), out);
        notify = shown_ != shownBefore || (CandidateCount() > 1) != rotatingBefore;
    }
    Deliver(out);
    if (notify && changed_) changed_();
}

void LcdProtocol::SetMediaPlaying(bool playing) {
    Outbox out;
    {
        MutexLock lock(mutex_);
        if (mediaPlaying_ == playing) return;
        --Count(EffectivePriority(kMediaKey, screens_.at(kMediaKey)));
        mediaPlaying_ = playing;
        ++Count(EffectivePriority(kMediaKey, screens_.at(kMediaKey)));
        Reconcile(clock_.NowMs(), out);
    }
    Deliver(out);
}

LcdView LcdProtocol::View() {
    Outbox out;
    LcdView view;
    {
        MutexLock lock(mutex_);
        const std::uint64_t now = clock_.NowMs();
        Reconcile(now, out);
        const auto it = screens_.find(shown_);
        if (it != screens_.end()) {
            const Screen& screen = it->second;
            std::optional<std::uint64_t> next;
            auto due = [&](std::uint64_t at) {
                if (!next || at < *next) next = at;
            };
            if (CandidateCount() > 1) due(shownSinceMs_ + DurationMs(screen));
            if (screen.timeoutLeftMs >= 0) {
                due(shownSinceMs_ + static_cast<std::uint64_t>(screen.timeoutLeftMs));
            }
            if (shown_ == kClockKey) {
                view.source = LcdSource::kClock;
            } else if (shown_ == kMediaKey) {
                view.source = LcdSource::kMedia;
            } else {
                view.source = LcdSource::kClient;
                view.client = screen.owner;
                view.screen = screen.id;
                LcdCanvas canvas(kLcdWidth, kLcdHeight);
                std::optional<std::uint64_t> step;
                DrawLcdWidgets(screen.widgets, now - shownSinceMs_, canvas, &step);
                if (step) due(shownSinceMs_ + *step);
                for (int row = 0; row < kLcdHeight; ++row) view.lines[row] = canvas.Row(row);
                const auto owner = clients_.find(screen.owner);
                const std::optional<bool> clientLight =
                    owner != clients_.end() ? owner->second.backlight : std::nullopt;
                view.backlightOn = screen.settings.backlight.value_or(clientLight.value_or(true));
                view.output = owner != clients_.end() ? owner->second.output : 0;
            }
            view.nextChangeMs = next;
        }
    }
    Deliver(out);
    return view;
}

void LcdProtocol::Deliver(const Outbox& out) {
    for (const auto& [client, line] : out.lines) link_.Send(client, line);
    for (LineClientId client : out.closes) link_.Close(client);
}

std::string LcdProtocol::Strike(LineClientId id, Client& client, std::string reply, Outbox& out) {
    if (++client.strikes > options_.maxStrikes && !client.closing) {
        client.closing = true;
        RemoveClientScreens(client);
        out.closes.push_back(id);
    }
    return reply;
}

std::string LcdProtocol::Execute(LineClientId id, Client& client,
                                 const std::vector<std::string>& args, Outbox& out) {
    const std::string& command = args[0];
    if (command == "hello") {
        client.greeted = true;
        return "connect LCDproc " + options_.serverVersion + " protocol 0.3 lcd wid " +
               std::to_string(kLcdWidth) + " hgt " + std::to_string(kLcdHeight) + " cellwid " +
               std::to_string(kLcdCellWidth) + " cellhgt " + std::to_string(kLcdCellHeight);
    }
    if (command == "bye") {
        client.closing = true;
        RemoveClientScreens(client);
        out.closes.push_back(id);
        return {};
    }
    if (!client.greeted) return Huh("Send hello first");

    const auto shownScreen = screens_.find(shown_);
    const bool ownerShown = shownScreen != screens_.end() && shownScreen->second.owner == id;
    if (command == "client_set") {
        if (args.size() < 3 || args.size() % 2 == 0) return Huh("Usage: client_set -name <name>");
        for (std::size_t i = 1; i + 1 < args.size(); i += 2) {
            if (OptionName(args[i]) != "name") {
                return Huh("Invalid parameter (" + Echo(args[i]) + ")");
            }
        }
        for (std::size_t i = 1; i + 1 < args.size(); i += 2) client.name = args[i + 1];
        return kSuccess;
    }
    if (command == "screen_add") {
        if (args.size() != 2) return Huh("Usage: screen_add <screenid>");
        if (args[1].empty()) return Huh("Invalid screen id");
        if (client.screens.count(args[1]) != 0) return Huh("Screen already exists");
        if (client.screens.size() >= options_.maxScreensPerClient) {
            return Strike(id, client, Huh("Too many screens"), out);
        }
        const std::uint64_t key = nextKey_++;
        Screen& screen = screens_[key];
        screen.owner = id;
        screen.id = args[1];
        screen.settings.name = args[1];
        ++Count(screen.settings.priority);
        client.screens.emplace(args[1], key);
        return kSuccess;
    }
    if (command == "screen_del") {
        if (args.size() != 2) return Huh("Usage: screen_del <screenid>");
        const auto it = client.screens.find(args[1]);
        if (it == client.screens.end()) return Huh("Unknown screen id");
        RemoveScreen(it->second);
        client.screens.erase(it);
        return kSuccess;
    }
    if (command == "screen_set") return ScreenSet(client, args);
    if (command == "widget_add") return WidgetAdd(id, client, args, out);
    if (command == "widget_set") return WidgetSet(client, args);
    if (command == "widget_del") return WidgetDel(client, args);
    if (command == "backlight") {
        if (args.size() != 2) return Huh("Usage: backlight {on|off|toggle|blink|flash}");
        std::optional<bool> value = client.backlight;
        if (!ParseBacklight(args[1], client.backlight.value_or(true), false, value)) {
            return Huh("Invalid backlight state");
        }
        client.backlight = value;
        if (ownerShown) shownTouched_ = true;
        return kSuccess;
    }
    if (command == "output") {
        if (args.size() != 2) return Huh("Usage: output {on|off|<number>}");
        if (Equals(args[1], "on")) {
            client.output = 0xFFFFFFFFu;
        } else if (Equals(args[1], "off")) {
            client.output = 0;
        } else if (const auto bits = ParseNumber(args[1], -2147483648LL, 4294967295LL)) {
            client.output = static_cast<std::uint32_t>(*bits);
        } else {
            return Huh("Invalid output value");
        }
        if (ownerShown) shownTouched_ = true;
        return kSuccess;
    }
    if (command == "info") {
        return "Lumara front panel: " + std::to_string(kLcdWidth) + "x" +
               std::to_string(kLcdHeight) + " text";
    }
    if (command == "noop") return kSuccess;
    if (command == "sleep") {
        if (args.size() != 2 || !ParseInt(args[1], 0, 60)) return Huh("Usage: sleep <0-60>");
        return kSuccess;
    }
    // The panel has no keys and no menu: these are taken and have no effect.
    if (OneOf(command,
              {"client_add_key", "client_del_key", "screen_add_key", "screen_del_key",
               "menu_add_item", "menu_del_item", "menu_set_item", "menu_goto", "menu_set_main"})) {
        return kSuccess;
    }
    return Huh("Invalid command \"" + Echo(command) + "\"");
}

std::string LcdProtocol::ScreenSet(Client& client, const std::vector<std::string>& args) {
    if (args.size() < 2) return Huh("Usage: screen_set <screenid> [-<option> <value>]...");
    Screen* screen = FindScreen(client, args[1]);
    if (!screen) return Huh("Unknown screen id");
    ScreenSettings staged = screen->settings;
    for (std::size_t i = 2; i < args.size(); i += 2) {
        const std::string_view option = OptionName(args[i]);
        if (i + 1 >= args.size()) return Huh("Missing value for -" + Echo(option));
        const std::string& value = args[i + 1];
        bool valid = true;
        if (option == "name") {
            staged.name = value;
        } else if (option == "priority") {
            const auto priority = ParsePriority(value);
            valid = priority.has_value();
            if (valid) staged.priority = *priority;
        } else if (option == "duration") {
            const auto eighths = ParseInt(value, 1, kMaxNumber);
            valid = eighths.has_value();
            if (valid) staged.durationEighths = *eighths;
        } else if (option == "timeout") {
            const auto eighths = ParseInt(value);
            valid = eighths.has_value();
            if (valid) staged.timeoutEighths = *eighths > 0 ? *eighths : -1;
        } else if (option == "backlight") {
            const bool current = staged.backlight.value_or(client.backlight.value_or(true));
            valid = ParseBacklight(value, current, true, staged.backlight);
        } else if (option == "heartbeat") {
            valid = OneOf(value, {"on", "off", "open"});
        } else if (option == "cursor") {
            valid = OneOf(value, {"on", "off", "under", "block"});
        } else if (option == "cursor_x" || option == "cursor_y" || option == "wid" ||
                   option == "hgt") {
            valid = ParseInt(value).has_value();
        } else {
            return Huh("Invalid parameter (-" + Echo(option) + ")");
        }
        if (!valid) return Huh("Invalid value for -" + Echo(option));
    }
    const std::uint64_t key = client.screens.find(args[1])->second;
    if (staged.timeoutEighths != screen->settings.timeoutEighths) {
        // A screen in view counts its timeout from now.
        const std::int64_t inView =
            key == shown_ ? static_cast<std::int64_t>(now_ - shownSinceMs_) : 0;
        screen->timeoutLeftMs = staged.timeoutEighths > 0
                                    ? static_cast<std::int64_t>(staged.timeoutEighths) *
                                              static_cast<std::int64_t>(kLcdTickMs) +
                                          inView
                                    : -1;
    }
    --Count(screen->settings.priority);
    ++Count(staged.priority);
    screen->settings = std::move(staged);
    TouchScreen(key);
    return kSuccess;
}

std::string LcdProtocol::WidgetAdd(LineClientId id, Client& client,
                                   const std::vector<std::string>& args, Outbox& out) {
    if (args.size() != 4 && args.size() != 6) {
        return Huh("Usage: widget_add <screenid> <widgetid> <type> [-in <frameid>]");
    }
    Screen* screen = FindScreen(client, args[1]);
    if (!screen) return Huh("Unknown screen id");
    if (args[2].empty()) return Huh("Invalid widget id");
    auto& widgets = screen->widgets;
    auto named = [&](std::string_view widgetId) {
        return std::find_if(widgets.begin(), widgets.end(),
                            [&](const LcdWidget& w) { return w.id == widgetId; });
    };
    if (named(args[2]) != widgets.end()) return Huh("Widget already exists");
    const auto type = ParseWidgetType(args[3]);
    if (!type) return Huh("Invalid widget type");
    LcdWidget widget;
    widget.id = args[2];
    widget.type = *type;
    if (args.size() == 6) {
        if (OptionName(args[4]) != "in") return Huh("Invalid parameter (" + Echo(args[4]) + ")");
        const auto frame = named(args[5]);
        if (frame == widgets.end() || frame->type != LcdWidgetType::kFrame) {
            return Huh("Unknown frame id");
        }
        widget.frame = args[5];
    }
    if (widgets.size() >= options_.maxWidgetsPerScreen) {
        return Strike(id, client, Huh("Too many widgets"), out);
    }
    widgets.push_back(std::move(widget));
    return kSuccess;
}

std::string LcdProtocol::WidgetSet(Client& client, const std::vector<std::string>& args) {
    if (args.size() < 3) return Huh("Usage: widget_set <screenid> <widgetid> <values>...");
    Screen* screen = FindScreen(client, args[1]);
    if (!screen) return Huh("Unknown screen id");
    const auto it = std::find_if(screen->widgets.begin(), screen->widgets.end(),
                                 [&](const LcdWidget& w) { return w.id == args[2]; });
    if (it == screen->widgets.end()) return Huh("Unknown widget id");
    LcdWidget staged = *it;
    const std::string error = ParseWidgetValues(args, staged);
    if (!error.empty()) return Huh(error);
    staged.set = true;
    *it = std::move(staged);
    TouchScreen(client.screens.find(args[1])->second);
    return kSuccess;
}

std::string LcdProtocol::WidgetDel(Client& client, const std::vector<std::string>& args) {
    if (args.size() != 3) return Huh("Usage: widget_del <screenid> <widgetid>");
    Screen* screen = FindScreen(client, args[1]);
    if (!screen) return Huh("Unknown screen id");
    auto& widgets = screen->widgets;
    const auto it = std::find_if(widgets.begin(), widgets.end(),
                                 [&](const LcdWidget& w) { return w.id == args[2]; });
    if (it == widgets.end()) return Huh("Unknown widget id");
    // A frame goes with everything in it, however deep.
    std::vector<std::string> gone{it->id};
    for (std::size_t i = 0; i < gone.size(); ++i) {
        for (const LcdWidget& w : widgets) {
            if (w.frame == gone[i] && !w.frame.empty()) gone.push_back(w.id);
        }
    }
    std::erase_if(widgets, [&](const LcdWidget& w) {
        return std::find(gone.begin(), gone.end(), w.id) != gone.end();
    });
    TouchScreen(client.screens.find(args[1])->second);
    return kSuccess;
}

LcdProtocol::Screen* LcdProtocol::FindScreen(Client& client, std::string_view id) {
    const auto it = client.screens.find(id);
    if (it == client.screens.end()) return nullptr;
    return &screens_.at(it->second);
}

void LcdProtocol::TouchScreen(std::uint64_t key) {
    if (key == shown_) shownTouched_ = true;
}

void LcdProtocol::RemoveScreen(std::uint64_t key) {
    if (key == shown_) shown_ = 0;
    const auto it = screens_.find(key);
    if (it == screens_.end()) return;
    --Count(EffectivePriority(key, it->second));
    screens_.erase(it);
}

void LcdProtocol::RemoveClientScreens(Client& client) {
    for (const auto& [id, key] : client.screens) RemoveScreen(key);
    client.screens.clear();
}

LcdPriority LcdProtocol::EffectivePriority(std::uint64_t key, const Screen& screen) const {
    if (key == kClockKey) return options_.clockPriority;
    if (key == kMediaKey) return mediaPlaying_ ? options_.mediaPriority : LcdPriority::kHidden;
    return screen.settings.priority;
}

std::uint64_t LcdProtocol::DurationMs(const Screen& screen) const {
    if (screen.owner == 0) {
        return screen.id == "media" ? options_.mediaScreenMs : options_.clockScreenMs;
    }
    return static_cast<std::uint64_t>(screen.settings.durationEighths) * kLcdTickMs;
}

std::size_t& LcdProtocol::Count(LcdPriority priority) {
    return classCounts_[static_cast<std::size_t>(priority)];
}

LcdPriority LcdProtocol::TopPriority() const {
    for (std::size_t i = classCounts_.size() - 1; i > 0; --i) {
        if (classCounts_[i] != 0) return static_cast<LcdPriority>(i);
    }
    return LcdPriority::kHidden;
}

std::size_t LcdProtocol::CandidateCount() const {
    const LcdPriority top = TopPriority();
    return top == LcdPriority::kHidden ? 0 : classCounts_[static_cast<std::size_t>(top)];
}

void LcdProtocol::Show(std::uint64_t key, std::uint64_t now, Outbox& out) {
    const auto old = screens_.find(shown_);
    if (old != screens_.end() && shown_ != key) {
        Screen& screen = old->second;
        if (screen.timeoutLeftMs >= 0) {
            screen.timeoutLeftMs = std::max<std::int64_t>(
                0, screen.timeoutLeftMs - static_cast<std::int64_t>(now - shownSinceMs_));
        }
        if (screen.owner != 0) out.lines.emplace_back(screen.owner, "ignore " + screen.id);
    }
    const bool changed = shown_ != key;
    shown_ = key;
    shownSinceMs_ = now;
    if (key == 0) return;
    cursor_ = key;
    const Screen& screen = screens_.at(key);
    if (changed && screen.owner != 0) out.lines.emplace_back(screen.owner, "listen " + screen.id);
}

void LcdProtocol::Reconcile(std::uint64_t now, Outbox& out) {
    // A screen whose timeout has run out in view is removed.
    const auto shown = screens_.find(shown_);
    if (shown != screens_.end() && shown->second.timeoutLeftMs >= 0 &&
        now - shownSinceMs_ >= static_cast<std::uint64_t>(shown->second.timeoutLeftMs)) {
        const Screen& screen = shown->second;
        if (screen.owner != 0) {
            out.lines.emplace_back(screen.owner, "ignore " + screen.id);
            const auto owner = clients_.find(screen.owner);
            if (owner != clients_.end()) owner->second.screens.erase(screen.id);
        }
        RemoveScreen(shown_);
    } else if (shown == screens_.end()) {
        shown_ = 0;
    }
    const LcdPriority top = TopPriority();
    if (top == LcdPriority::kHidden) {
        Show(0, now, out);
        return;
    }
    if (shown_ != 0 && EffectivePriority(shown_, screens_.at(shown_)) == top) {
        if (CandidateCount() < 2 || now - shownSinceMs_ < DurationMs(screens_.at(shown_))) return;
    }
    // The next screen of the top class after the last one shown, round the list.
    std::uint64_t next = 0;
    for (auto it = screens_.upper_bound(cursor_); it != screens_.end() && next == 0; ++it) {
        if (EffectivePriority(it->first, it->second) == top) next = it->first;
    }
    for (auto it = screens_.begin(); it != screens_.end() && next == 0; ++it) {
        if (EffectivePriority(it->first, it->second) == top) next = it->first;
    }
    Show(next, now, out);
}

}  // namespace zelk
