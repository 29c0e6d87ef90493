#include "SetupFields.h"

#include <algorithm>
#include <functional>
#include <set>

namespace setup {

namespace {

const QStringList kOnOff{"Off", "On"};
const QString kAllChannels = "ALL CH";

// One offset per layout.
struct At {
    int small;
    int big;
    int In(Layout layout) const { return layout == Layout::Small ? small : big; }
};

QStringList Numbers(int from, int to, const char* format)
{
    QStringList out;
    for (int v = from; v <= to; ++v)
        out << QString::asprintf(format, v);
    return out;
}

Field ListField(int offset, QStringList list, bool stored = true, QStringList choices = {})
{
    Field f;
    f.kind = FieldKind::List;
    f.offset = offset;
    f.stored = stored;
    f.list = std::move(list);
    f.choices = std::move(choices);
    return f;
}

Field OnOffField(int offset, bool stored = true)
{
    Field f;
    f.kind = FieldKind::OnOff;
    f.offset = offset;
    f.stored = stored;
    return f;
}

Field BiasedField(int offset, const char* format, QStringList choices)
{
    Field f;
    f.kind = FieldKind::Biased;
    f.offset = offset;
    f.stored = true;
    f.format = format;
    f.choices = std::move(choices);
    return f;
}

Field SimpleField(FieldKind kind, int offset, bool stored, int width = 4, int shown = 0)
{
    Field f;
    f.kind = kind;
    f.offset = offset;
    f.stored = stored;
    f.width = width;
    f.shown = shown;
    return f;
}

// Latin-1 keeps every byte value of a DVR text round-trippable.
QString ReadText(const std::vector<uint8_t>& record, int offset, int width, int shown)
{
    QString text;
    for (int k = 0; k < width && k < shown && offset + k < static_cast<int>(record.size()); ++k) {
        const uint8_t c = record[offset + k];
        if (c == 0)
            break;
        text += QChar(c);
    }
    return text;
}

bool ParseStrictInt(const QString& text, int* value)
{
    if (text.isEmpty() || text.size() > 9)
        return false;
    for (QChar c : text)
        if (!c.isDigit() || c.unicode() > 127)
            return false;
    *value = text.toInt();
    return true;
}

// Sequence groups a DVR of this size offers after its single channels.
struct SequenceGroup {
    int value;
    const char* text;
};
std::vector<SequenceGroup> SequenceGroups(int effectiveN)
{
    if (effectiveN <= 5)
        return {{4, "01-04"}};
    if (effectiveN <= 9)
        return {{8, "01-04"}, {9, "05-08"}, {10, "01-08"}};
    return {{16, "01-04"}, {17, "05-08"}, {18, "09-12"}, {19, "13-16"}, {20, "01-08"}, {21, "09-16"}, {22, "01-16"}};
}

// A biased value v shows as v + 1, which does not fit 32 bits for the
// largest v a record can hold.
QString ShowBiased(const QString& format, int32_t v)
{
    QString wide = format;
    wide.replace("d", "lld");
    return QString::asprintf(qPrintable(wide), static_cast<long long>(v) + 1);
}

QString ShowSequenceOrder(int v, int effectiveN)
{
    if (v >= 0 && v < effectiveN - 1)
        return QString::asprintf("CH%.2d", v + 1);
    const auto groups = SequenceGroups(effectiveN);
    if (effectiveN <= 5 && v >= 4)
        return groups.front().text;
    for (const auto& g : groups)
        if (g.value == v)
            return g.text;
    return QString();
}

const QStringList kTimeZones{
    "US:SAMOA",    "US:HAWAII",   "US:ALASKA",     "US:PACIFIC",  "US:ARIZONA",  "MAZATLAN",    "US:MOUNTAIN",
    "US:CENTRAL",  "MEXICO CITY", "SASKATCHEWA",   "BOGOTA",      "US:EASTERN",  "US:INDIANA",  "ATLANTIC",
    "CARACAS",     "SAN TIAGO",   "NEWFOUNDLAND",  "SAO PAULO",   "GEORGETOWN",  "DENORONHA",   "AZORES",
    "CAPE VERDE",  "CASABLANCA",  "LONDON",        "ROME",        "BUDAPEST",    "PARIS",       "SARAJEVO",
    "KINSHASA",    "ATHENS",      "BUCHAREST",     "CAIRO",       "HANARE",      "HELSINKI",    "JERUSALEM",
    "BAGHDAD",     "KUWAIT",      "MOSCOW",        "NAIROBI",     "TEHRAN",      "ABU DHABI",   "BAKU",
    "KABUL",       "ISLAMABAD",   "NEW DELHI",     "KATHMANDU",   "ALMATY",      "DHAKA",       "RANGOON",
    "BANGKOK",     "KRASNOYARSK", "HONG KONG",     "IRKUTSK",     "SINGAPORE",   "PERTH",       "TAIPEI",
    "TOKYO",       "SEOUL",       "YAKUTSK",       "ADELAIDE",    "DARWIN",      "BRISBANE",    "SYDNEY",
    "GUAM",        "HOBART",      "VLADIVOSTOK",   "SOLOMON IS",  "WELLINGTON",  "FIJI",        "NUKUALOFA",
    "NONE"};
constexpr int kTimeZoneNone = 70;

const QStringList kSpeedPal{"25", "12", "8", "7", "6", "5", "4", "3", "2", "1", "0"};
const QStringList kSpeedNtsc{"30", "15", "10", "7", "6", "5", "4", "3", "2", "1", "0"};
const QStringList kResolutionPal{"180x144", "360x288", "720x288", "720x576"};
const QStringList kResolutionNtsc{"180x120", "360x240", "720x240", "720x480"};
constexpr At kVideoType{0x2E24, 0x5BD0};
constexpr At kSchedule{0x2D4, 0x574};

QStringList ChannelTexts(int channels, const char* format)
{
    return Numbers(1, channels, format);
}

void AddChannelRows(Page& page, int channels, const std::function<std::vector<Field>(int ch)>& cells)
{
    if (page.allChannelsRow) {
        Row all{kAllChannels, {}};
        all.cells.resize(page.columns.size());
        for (std::size_t c = 0; c < all.cells.size(); ++c) {
            const std::vector<Field> sample = cells(0);
            all.cells[c].kind = FieldKind::None;
            all.cells[c].list = sample[c].list;
            all.cells[c].choices = sample[c].choices;
            all.cells[c].format = sample[c].format;
        }
        page.rows.push_back(all);
    }
    for (int ch = 0; ch < channels; ++ch)
        page.rows.push_back(Row{QString::asprintf("CH %.2d", ch + 1), cells(ch)});
}

// Grid columns 1..count as combo columns.
std::vector<int> AllColumns(int count)
{
    std::vector<int> out;
    for (int c = 1; c <= count; ++c)
        out.push_back(c);
    return out;
}

} // namespace

int ChannelCountFromDvrType(int dvrType)
{
    const int n = dvrType == 4 ? 5 : dvrType;
    return n <= 2 ? 1 : n - 1;
}

std::optional<Layout> SetupContext::LayoutOfSize(std::size_t size)
{
    if (size == kSmallRecordSize)
        return Layout::Small;
    if (size == kLargeRecordSize)
        return Layout::Large;
    return std::nullopt;
}

int SetupContext::Channels() const
{
    return std::min(ChannelCountFromDvrType(dvrType), layout == Layout::Small ? kSmallChannels : kLargeChannels);
}

int32_t ReadInt(const std::vector<uint8_t>& record, int offset)
{
    if (offset < 0 || static_cast<std::size_t>(offset) + 4 > record.size())
        return 0;
    return static_cast<int32_t>(uint32_t(record[offset]) | uint32_t(record[offset + 1]) << 8 |
                                uint32_t(record[offset + 2]) << 16 | uint32_t(record[offset + 3]) << 24);
}

void WriteInt(std::vector<uint8_t>& record, int offset, int32_t value)
{
    if (offset < 0 || static_cast<std::size_t>(offset) + 4 > record.size())
        return;
    const uint32_t v = static_cast<uint32_t>(value);
    for (int k = 0; k < 4; ++k)
        record[offset + k] = static_cast<uint8_t>(v >> (8 * k));
}

int VideoSignalType(const std::vector<uint8_t>& record, Layout layout)
{
    return ReadInt(record, kVideoType.In(layout)) == 1 ? 1 : 0;
}

const std::vector<PageGroup>& DvrPageTree()
{
    static const std::vector<PageGroup> tree{
        {"Device", {"Overwrite / Warning", "Sensor", "Alarm", "Audio Record", "PTZ Camera"}},
        {"Display", {"Channel Name Display", "Camera Input", "Sequence", "Display Misc"}},
        {"Display Misc", {"Display VGA", "PIP"}},
        {"System", {"Time Setup", "Password Setup", "Network", "Misc.", "Information"}},
        {"Record", {"Motion Record Setup", "Schedule Record", "Record Channel Enable", "Record Quality"}},
    };
    return tree;
}

std::optional<Page> BuildPage(const QString& parent, const QString& name, const SetupContext& context,
                              const std::vector<uint8_t>& record)
{
    const Layout L = context.layout;
    const bool big = L == Layout::Large;
    const int channels = context.Channels();
    const int n = context.EffectiveN();
    const int video = VideoSignalType(record, L);
    Page page;
    page.parent = parent;
    page.name = name;
    auto single = [&](std::initializer_list<std::pair<const char*, Field>> rows) {
        page.columns = {"Value"};
        for (const auto& [label, field] : rows)
            page.rows.push_back(Row{label, {field}});
        page.comboColumns = {1};
    };

    if (parent == "Device" && name == "Overwrite / Warning") {
        single({{"Overwrite", OnOffField(At{0x2D1C, 0x5A28}.In(L))},
                {"Disk Warning", OnOffField(At{0x2D20, 0x5A2C}.In(L))},
                {"Warning Method", ListField(At{0x2D24, 0x5A30}.In(L), {"Off", "OSD", "OSD+BEEP"})}});
    } else if (parent == "Device" && name == "Sensor") {
        page.columns = {"Value"};
        page.allChannelsRow = true;
        page.comboColumns = {1};
        const int base = At{0x2D28, 0x5A34}.In(L);
        AddChannelRows(page, channels, [&](int ch) { return std::vector<Field>{ListField(base + 4 * ch, {"N.O.", "N.C."})}; });
    } else if (parent == "Device" && name == "Alarm") {
        single({{"Alarm Out", OnOffField(At{0x2D48, 0x5A74}.In(L))}, {"Buzzer", OnOffField(At{0x2D4C, 0x5A78}.In(L))}});
    } else if (parent == "Device" && name == "Audio Record") {
        page.columns = {"Camera", "Record", "Volume"};
        const int base = At{0x2E28, 0x59F4}.In(L);
        const int inputs = big ? 4 : 1;
        for (int i = 0; i < inputs; ++i) {
            const int at = base + 12 * i;
            page.rows.push_back(Row{QString::asprintf("Input %.2d", i + 1),
                                    {BiasedField(at, "CH %.2d", ChannelTexts(channels, "CH %.2d")), OnOffField(at + 4),
                                     BiasedField(at + 8, "%d", Numbers(1, 8, "%d"))}});
        }
        if (big) {
            page.comboColumns = {1, 2, 3};
        } else {
            // One input on the small DVR, wired to a fixed camera.
            page.comboColumns = {2, 3};
            page.readOnlyColumns = {1};
        }
    } else if (parent == "Device" && name == "PTZ Camera") {
        page.columns = {"Type", "BPS", "ID", "Speed"};
        page.comboColumns = AllColumns(4);
        page.check = PageCheck::PtzIds;
        const int base = At{0x2D50, 0x5A7C}.In(L);
        for (int ch = 0; ch < channels; ++ch) {
            const int at = base + 16 * ch;
            page.rows.push_back(Row{QString::asprintf("CH %.2d", ch + 1),
                                    {ListField(at + 8, {"PELCO-D", "PELCO-P", "SAMSUNG", "DONGYANG", "LG", "HITRON",
                                                        "HONEYWELL", "PANASONIC"}),
                                     ListField(at, {"2400", "4800", "9600", "19200"}),
                                     BiasedField(at + 4, "%.2d", Numbers(1, 20, "%.2d")),
                                     BiasedField(at + 12, "%d", Numbers(1, 5, "%d"))}});
        }
    } else if (parent == "Display" && name == "Channel Name Display") {
        page.columns = {"Name", "Blank"};
        page.comboColumns = {2};
        page.maxLength = 8;
        page.check = PageCheck::NameLength;
        const int blank = At{0x40, 0x80}.In(L);
        for (int ch = 0; ch < channels; ++ch)
            page.rows.push_back(Row{QString::asprintf("CH %.2d", ch + 1),
                                    {SimpleField(FieldKind::Text, 8 * ch, true, 8, 8), OnOffField(blank + 4 * ch)}});
    } else if (parent == "Display" && name == "Camera Input") {
        page.columns = {"Brightness", "Contrast", "HUE", "Color"};
        page.allChannelsRow = true;
        page.validCharacters = "0123456789";
        page.maxLength = 2;
        page.check = PageCheck::Range99;
        const int base = At{0xA0, 0x140}.In(L);
        AddChannelRows(page, channels, [&](int ch) {
            std::vector<Field> cells;
            for (int k = 0; k < 4; ++k)
                cells.push_back(SimpleField(FieldKind::Number, base + 16 * ch + 4 * k, true));
            return cells;
        });
    } else if (parent == "Display" && name == "Sequence") {
        page.columns = {"Order", "Time"};
        page.comboColumns = {1, 2};
        const int order = At{0x60, 0xC0}.In(L);
        const int time = At{0x80, 0x100}.In(L);
        QStringList orderChoices = ChannelTexts(channels, "CH%.2d");
        for (const auto& g : SequenceGroups(n))
            orderChoices << g.text;
        for (int ch = 0; ch < channels; ++ch) {
            Field f = SimpleField(FieldKind::SequenceOrder, order + 4 * ch, true);
            f.choices = orderChoices;
            page.rows.push_back(Row{QString::asprintf("CH %.2d", ch + 1),
                                    {f, ListField(time + 4 * ch, {"1 Sec", "2 Sec", "3 Sec", "5 Sec", "10 Sec"})}});
        }
    } else if (parent == "Display" && name == kDisplayMiscPage) {
        single({{"Camera Title", ListField(At{0x1B0, 0x350}.In(L), {"NAME", "NUMBER", "OFF"})},
                {"Border Color", ListField(At{0x1B4, 0x354}.In(L), {"WHITE", "BLACK", "OFF"})},
                {"Date/Time", ListField(At{0x1B8, 0x358}.In(L), {"TOP", "BOTTOM", "OFF"})},
                {"Record Icon", OnOffField(At{0x1BC, 0x35C}.In(L))},
                // The record keeps the network icon before the playback icon.
                {"Playback Icon", OnOffField(At{0x1C4, 0x364}.In(L))},
                {"Network Icon", OnOffField(At{0x1C0, 0x360}.In(L))},
                {"Favorite Skin", ListField(At{0x1C8, 0x368}.In(L), {"BLUE", "RED", "GREEN"})}});
    } else if (parent == kDisplayMiscPage && name == "Display VGA") {
        single({{"Brightness", SimpleField(FieldKind::Number, At{0x120, 0x240}.In(L), true)},
                {"Contrast", SimpleField(FieldKind::Number, At{0x124, 0x244}.In(L), true)}});
        page.comboColumns.clear();
        page.validCharacters = "0123456789";
        page.maxLength = 2;
        page.check = PageCheck::Range99;
    } else if (parent == kDisplayMiscPage && name == "PIP") {
        const QStringList mainChoices = ChannelTexts(channels, "CH%.2d");
        const QStringList subChoices = ChannelTexts(n >= 17 ? std::min(channels, 8) : channels, "CH%.2d");
        const At base{0x1A0, 0x340};
        single({{"Main", BiasedField(base.In(L), "CH%.2d", mainChoices)},
                {"Sub1", BiasedField(base.In(L) + 4, "CH%.2d", subChoices)},
                {"Sub2", BiasedField(base.In(L) + 8, "CH%.2d", subChoices)},
                {"Sub3", BiasedField(base.In(L) + 12, "CH%.2d", subChoices)}});
        page.check = PageCheck::PipDistinct;
    } else if (parent == "System" && name == "Time Setup") {
        Field zone = ListField(At{0x2DD4, 0x5B80}.In(L), kTimeZones, false);
        zone.kind = FieldKind::TimeZone;
        zone.aux = At{0x2DD0, 0x5B7C}.In(L);
        Field clock = SimpleField(big ? FieldKind::Clock : FieldKind::None, big ? 0x5C78 : -1, false);
        single({{"Auto Time Set", ListField(At{0x2DD0, 0x5B7C}.In(L), {"NO", "YES"}, false)},
                {"Time Zone", zone},
                {"Date Format", ListField(At{0x2DD8, 0x5B84}.In(L),
                                          {"MM/DD/YYYY", "DD/MM/YYYY", "YYYY/MM/DD", "MM/DD/YY", "DD/MM/YY", "YY/MM/DD"},
                                          false)},
                {"Time Format", ListField(At{0x2DDC, 0x5B88}.In(L), {"24H", "12H"}, false)},
                {"Current DVR Time", clock}});
        page.comboColumns.clear();
        page.shadedRows = {0, 1, 2, 3, 4};
        page.lockedRows = {0, 1, 2, 3, 4};
    } else if (parent == "System" && name == "Password Setup") {
        const int offsets[6][2] = {{0x2E14, 0x5BC0}, {0x2E18, 0x5BC4}, {0x2E1C, 0x5BC8},
                                   {0x2E20, 0x5BCC}, {0x2E68, 0x5BE0}, {0x2E6C, 0x5BE4}};
        const char* labels[6] = {"Admin Password", "User1 Password", "User2 Password",
                                 "User3 Password", "User4 Password", "User5 Password"};
        page.columns = {"Value"};
        for (int k = 0; k < 6; ++k)
            page.rows.push_back(Row{labels[k], {SimpleField(FieldKind::Password, offsets[k][big], true)}});
        page.validCharacters = "0123456789";
        page.maxLength = 4;
        page.check = PageCheck::Passwords;
    } else if (parent == "System" && name == "Network") {
        Field server;
        server.kind = FieldKind::Literal;
        server.format = context.lookupHost;
        const int resolutionAt = At{0x2E60, 0x5BD8}.In(L);
        Field resolution = SimpleField(FieldKind::Resolution, resolutionAt, big || n > 8);
        resolution.list = video == 1 ? kResolutionPal : kResolutionNtsc;
        // A small DVR of four channels has no extra stream.
        if (!big && n <= 7)
            resolution.aux = 0;
        const QString resolutionLabel = big ? "CH17 Resolution" : n > 7 ? "CH09 Resolution" : "CH05 Resolution";
        page.columns = {"Value"};
        page.rows = {Row{"DHCP", {OnOffField(At{0x2E5C, 0x5BD4}.In(L), false)}},
                     Row{"IP Address", {SimpleField(FieldKind::Address, At{0x2E70, 0x5BE8}.In(L), false)}},
                     Row{"Subnet Mask", {SimpleField(FieldKind::Address, At{0x2E74, 0x5BEC}.In(L), false)}},
                     Row{"Gateway Address", {SimpleField(FieldKind::Address, At{0x2E78, 0x5BF0}.In(L), false)}},
                     Row{"Network ID", {SimpleField(FieldKind::Text, At{0x2DF8, 0x5BA4}.In(L), false, 8, 8)}},
                     Row{"Admin Password", {SimpleField(FieldKind::Text, At{0x2E00, 0x5BAC}.In(L), false, 8, 8)}},
                     Row{"User Password", {SimpleField(FieldKind::Text, At{0x2E08, 0x5BB4}.In(L), false, 8, 8)}},
                     Row{"Server IP", {server}},
                     Row{"Client Port Number", {SimpleField(FieldKind::Port, At{0x2DF0, 0x5B9C}.In(L), false)}},
                     Row{"Web Port Number", {SimpleField(FieldKind::Port, At{0x2DF4, 0x5BA0}.In(L), false)}},
                     Row{resolutionLabel, {resolution}},
                     Row{"Bandwidth",
                         {ListField(At{0x2F00, 0x5CAC}.In(L),
                                    {"FREE", "2 Mbps", "1 Mbps", "256 Kbps", "128 Kbps", "56 Kbps"})}}};
        page.comboColumns = {1};
        page.shadedRows = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
        page.lockedRows = page.shadedRows;
        const int32_t value = ReadInt(record, resolutionAt);
        if (resolution.aux == 0 || value < 0 || value >= 4) {
            page.shadedRows.push_back(10);
            page.lockedRows.push_back(10);
        }
    } else if (parent == "System" && name == "Misc.") {
        single({{"Video Signal Type", ListField(kVideoType.In(L), {"NTSC", "PAL"}, false)},
                {"Language", ListField(At{0x2E64, 0x5BDC}.In(L), {"ENGLISH", "PORTUGUESE", "SPANISH", "ITALIAN"})},
                {"Factory Reset", ListField(At{0x2F08, 0x5CB4}.In(L), {"NO", "YES"})},
                {"Password Enable", OnOffField(At{0x2E10, 0x5BBC}.In(L))}});
        page.shadedRows = {0};
        page.lockedRows = {0};
    } else if (parent == "System" && name == "Information") {
        page.columns = {"Value"};
        page.rows = {Row{"Current S/W Version", {SimpleField(FieldKind::Text, At{0x2E7C, 0x5BF4}.In(L), false, 8, 7)}},
                     Row{"HDD-MASTER", {Field{}}},
                     Row{"Model", {SimpleField(FieldKind::Text, At{0x2E84, 0x5BFC}.In(L), false, 24, 23)}},
                     Row{"Size", {SimpleField(FieldKind::Text, At{0x2E9C, 0x5C14}.In(L), false, 24, 23)}},
                     Row{"HDD-SLAVE", {Field{}}},
                     Row{"Mode", {SimpleField(FieldKind::Text, At{0x2EB4, 0x5C2C}.In(L), false, 24, 23)}},
                     Row{"Size", {SimpleField(FieldKind::Text, At{0x2ECC, 0x5C44}.In(L), false, 24, 23)}},
                     Row{"CD-RW", {Field{}}},
                     Row{"Model", {SimpleField(FieldKind::Text, At{0x2EE4, 0x5C5C}.In(L), false, 24, 23)}}};
        page.shadedRows = {1, 2, 3, 4, 5, 6, 7, 8};
        page.lockedRows = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    } else if (parent == "Record" && name == "Record Quality") {
        page.columns = {"Size", "Speed", "Quality", "GOP"};
        page.allChannelsRow = true;
        page.comboColumns = AllColumns(4);
        page.check = PageCheck::FrameBudget;
        const int base = At{0x24C, 0x46C}.In(L);
        const QStringList quality{"Excellent", "Very Good", "Good", "Normal", "Basic"};
        QStringList qualityChoices = quality;
        std::reverse(qualityChoices.begin(), qualityChoices.end());
        AddChannelRows(page, channels, [&](int ch) {
            const int at = base + 16 * ch;
            return std::vector<Field>{ListField(at, {"CIF", "H.D1", "D1"}),
                                      ListField(at + 4, video == 1 ? kSpeedPal : kSpeedNtsc),
                                      ListField(at + 8, quality, true, qualityChoices),
                                      ListField(at + 12, {"15", "30", "60", "100", "120", "150", "180", "200", "210", "240"})};
        });
    } else if (parent == "Record" && name == "Motion Record Setup") {
        page.columns = {"Sensitivity", "Area"};
        page.allChannelsRow = true;
        page.comboColumns = {1, 2};
        const int sensitivity = At{0x1AD4, 0x3574}.In(L);
        const int area = At{0x1AF4, 0x35B4}.In(L);
        AddChannelRows(page, channels, [&](int ch) {
            return std::vector<Field>{
                ListField(sensitivity + 4 * ch, {"Normal", "High", "Highest", "Low"}, true,
                          {"Low", "Normal", "High", "Highest"}),
                ListField(area + 4 * ch, {"SET", "FULL"})};
        });
    } else if (parent == "Record" && name == "Record Channel Enable") {
        page.columns = {"Manual", "Schedule", "Motion", "Sensor"};
        page.allChannelsRow = true;
        page.comboColumns = AllColumns(4);
        const int base = At{0x1CC, 0x36C}.In(L);
        const QStringList times{"OFF", "30 sec", "45 sec", "1 min", "2 min", "3 min", "ALL CH"};
        AddChannelRows(page, channels, [&](int ch) {
            const int at = base + 16 * ch;
            return std::vector<Field>{OnOffField(at), OnOffField(at + 4), ListField(at + 8, times),
                                      ListField(at + 12, times)};
        });
    } else if (parent == "Record" && name == "Schedule Record") {
        page.schedule = true;
    } else {
        bool parentOnly = name == kDvrRootName;
        for (const auto& group : DvrPageTree())
            parentOnly = parentOnly || (name == group.parent && group.parent != kDisplayMiscPage);
        if (!parentOnly)
            return std::nullopt;
    }
    return page;
}

QString ShowField(const Field& field, const std::vector<uint8_t>& record, const SetupContext& context)
{
    const int32_t v = ReadInt(record, field.offset);
    auto listText = [&](const QStringList& list, int32_t index) {
        return index >= 0 && index < list.size() ? list[index] : QString();
    };
    switch (field.kind) {
    case FieldKind::None: return QString();
    case FieldKind::List: return listText(field.list, v);
    case FieldKind::OnOff: return v != 0 ? "On" : "Off";
    case FieldKind::Biased: return ShowBiased(field.format, v);
    case FieldKind::Number: return QString::number(v);
    case FieldKind::Port: return QString::asprintf("%04d", v);
    case FieldKind::Text: return ReadText(record, field.offset, field.width, field.shown);
    case FieldKind::Password: {
        QString text;
        for (int k = 0; k < 4 && field.offset + k < static_cast<int>(record.size()); ++k)
            text += QString::number(int(record[field.offset + k]) - '0');
        return text;
    }
    case FieldKind::Address:
        if (field.offset + 4 > static_cast<int>(record.size()))
            return QString();
        return QString::asprintf("%d.%d.%d.%d", record[field.offset], record[field.offset + 1],
                                 record[field.offset + 2], record[field.offset + 3]);
    case FieldKind::Literal: return field.format;
    case FieldKind::TimeZone:
        return ReadInt(record, field.aux) == 0 ? kTimeZones[kTimeZoneNone] : listText(field.list, v);
    case FieldKind::Clock:
        // The year travels as year - 2000; a hostile value must not wrap.
        return QString::asprintf("%02d/%02d/%04lld %02d:%02d:%02d", ReadInt(record, field.offset + 4),
                                 ReadInt(record, field.offset + 8), ReadInt(record, field.offset) + 2000LL,
                                 ReadInt(record, field.offset + 12), ReadInt(record, field.offset + 16),
                                 ReadInt(record, field.offset + 20));
    case FieldKind::Resolution:
        if (field.aux == 0 || v < 0 || v >= 4)
            return "Disable";
        return field.list[v];
    case FieldKind::SequenceOrder: return ShowSequenceOrder(v, context.EffectiveN());
    }
    return QString();
}

QStringList FieldChoices(const Field& field)
{
    if (!field.choices.isEmpty())
        return field.choices;
    if (field.kind == FieldKind::OnOff)
        return {"On", "Off"};
    return field.list;
}

PageTexts ShowPage(const Page& page, const std::vector<uint8_t>& record, const SetupContext& context)
{
    PageTexts texts;
    for (const Row& row : page.rows) {
        std::vector<QString> cells;
        for (const Field& field : row.cells)
            cells.push_back(ShowField(field, record, context));
        texts.push_back(cells);
    }
    return texts;
}

namespace {

// The record value a cell text stands for; nullopt when the text is not one
// the field can hold (the cell is then left as it was).
std::optional<int32_t> ParseField(const Field& field, const QString& text, const SetupContext& context)
{
    int number = 0;
    switch (field.kind) {
    case FieldKind::List:
    case FieldKind::Resolution: {
        const int index = field.list.indexOf(text);
        return index >= 0 ? index : 0;
    }
    case FieldKind::OnOff: return text == "On" ? 1 : 0;
    case FieldKind::Biased: {
        QString digits = text;
        while (!digits.isEmpty() && !digits[0].isDigit())
            digits.remove(0, 1);
        if (!ParseStrictInt(digits, &number) || number < 1)
            return std::nullopt;
        return number - 1;
    }
    case FieldKind::Number:
        if (!ParseStrictInt(text, &number))
            return std::nullopt;
        return number;
    case FieldKind::SequenceOrder: {
        for (int v = 0; v < context.EffectiveN() - 1; ++v)
            if (text == QString::asprintf("CH%.2d", v + 1))
                return v;
        for (const auto& g : SequenceGroups(context.EffectiveN()))
            if (text == g.text)
                return g.value;
        return std::nullopt;
    }
    default: return std::nullopt;
    }
}

bool IsFourDigits(const QString& text)
{
    if (text.size() != 4)
        return false;
    for (QChar c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The page's check, judged on the cells the operator changed: what came
// from the DVR untouched goes back as it came, whatever it holds, so a value
// the DVR itself got wrong never locks the operator on a page.
const char* CheckPage(const Page& page, const PageTexts& shown, const PageTexts& edited)
{
    const std::size_t first = page.allChannelsRow ? 1 : 0;
    auto changed = [&](std::size_t row, std::size_t column) {
        return column < edited[row].size() && (column >= shown[row].size() || edited[row][column] != shown[row][column]);
    };
    // A changed cell of `column` that equals the same column of another row.
    auto changedDuplicate = [&](std::size_t column) {
        for (std::size_t r = first; r < edited.size(); ++r) {
            if (!changed(r, column))
                continue;
            for (std::size_t other = first; other < edited.size(); ++other)
                if (other != r && column < edited[other].size() && edited[other][column] == edited[r][column])
                    return true;
        }
        return false;
    };
    switch (page.check) {
    case PageCheck::None: return nullptr;
    case PageCheck::PtzIds: return changedDuplicate(2) ? kPtzIdConflict : nullptr;
    case PageCheck::NameLength:
        for (std::size_t r = 0; r < edited.size(); ++r)
            if (changed(r, 0) && edited[r][0].size() > 8)
                return kNameLength;
        return nullptr;
    case PageCheck::Range99:
        for (std::size_t r = first; r < edited.size(); ++r)
            for (std::size_t c = 0; c < edited[r].size(); ++c) {
                int v = 0;
                if (changed(r, c) && (!ParseStrictInt(edited[r][c], &v) || v > 99))
                    return kValueRange;
            }
        return nullptr;
    case PageCheck::PipDistinct: return changedDuplicate(0) ? kPipDistinct : nullptr;
    case PageCheck::Passwords:
        for (std::size_t r = 0; r < edited.size(); ++r)
            if (changed(r, 0) && !IsFourDigits(edited[r][0]))
                return kPasswordDigits;
        return nullptr;
    case PageCheck::FrameBudget: return nullptr; // needs the record's video type: StorePage
    }
    return nullptr;
}

} // namespace

QString StorePage(const Page& page, const PageTexts& shown, const PageTexts& edited, std::vector<uint8_t>& record,
                  const SetupContext& context)
{
    if (record.size() != context.RecordSize() || shown.size() != page.rows.size() ||
        edited.size() != page.rows.size())
        return QString();
    for (std::size_t r = 0; r < page.rows.size(); ++r)
        if (shown[r].size() != page.rows[r].cells.size() || edited[r].size() != page.rows[r].cells.size())
            return QString();
    if (page.check == PageCheck::FrameBudget) {
        // Refused only when the operator's changes leave the budget below
        // zero and below what the DVR had.
        const int video = VideoSignalType(record, context.layout);
        const int before = AvailableFrameRate(shown, video, context.EffectiveN());
        const int after = AvailableFrameRate(edited, video, context.EffectiveN());
        if (after < 0 && after < before)
            return kFrameRateNegative;
    } else if (const char* refusal = CheckPage(page, shown, edited)) {
        return refusal;
    }
    for (std::size_t r = 0; r < page.rows.size(); ++r) {
        const Row& row = page.rows[r];
        for (std::size_t c = 0; c < row.cells.size() && c < edited[r].size() && c < shown[r].size(); ++c) {
            const Field& field = row.cells[c];
            if (!field.stored || edited[r][c] == shown[r][c])
                continue;
            const QString& text = edited[r][c];
            if (field.kind == FieldKind::Text) {
                for (int k = 0; k < field.width; ++k)
                    record[field.offset + k] = k < text.size() ? static_cast<uint8_t>(text[k].toLatin1()) : 0;
            } else if (field.kind == FieldKind::Password) {
                if (!IsFourDigits(text))
                    continue;
                for (int k = 0; k < 4; ++k)
                    record[field.offset + k] = static_cast<uint8_t>(text[k].toLatin1());
            } else if (const auto value = ParseField(field, text, context)) {
                WriteInt(record, field.offset, *value);
            }
        }
    }
    return QString();
}

int AvailableFrameRate(const PageTexts& texts, int videoType, int effectiveN)
{
    const int budget = videoType == 1 ? 200 : 240;
    const QStringList& speeds = videoType == 1 ? kSpeedPal : kSpeedNtsc;
    auto used = [&](std::size_t from, std::size_t to) {
        int sum = 0;
        for (std::size_t r = from; r <= to && r < texts.size(); ++r) {
            if (texts[r].size() < 2)
                continue;
            const QString& size = texts[r][0];
            const int weight = size == "CIF" ? 1 : size == "H.D1" ? 2 : size == "D1" ? 4 : 0;
            // A speed the list does not know counts for nothing.
            sum += weight * (speeds.contains(texts[r][1]) ? texts[r][1].toInt() : 0);
        }
        return sum;
    };
    int available = budget - used(1, 8);
    if (effectiveN > 10)
        available += budget - used(9, 16);
    return available;
}

QString FrameRateHint(int available, int videoType)
{
    return videoType == 1
               ? QString::asprintf("Size : CIF->352x288, H.D1->704x288, D1->704x576   Available Frame Rate : %d", available)
               : QString::asprintf("Size : CIF->360x240, H.D1->720x240, D1->720x480   Available Frame Rate : %d", available);
}

ChannelSchedule ReadSchedule(const std::vector<uint8_t>& record, Layout layout, int channel)
{
    ChannelSchedule grid{};
    const int base = kSchedule.In(layout) + 768 * channel;
    for (int r = 0; r < kScheduleRows; ++r) {
        const int recordRow = r == 0 ? 7 : r - 1;
        for (int h = 0; h < kScheduleHours; ++h)
            grid[r][h] = static_cast<int16_t>(ReadInt(record, base + 96 * recordRow + 4 * h) & 0xFFFF);
    }
    return grid;
}

void WriteSchedule(std::vector<uint8_t>& record, Layout layout, int channel, const ChannelSchedule& schedule)
{
    const int base = kSchedule.In(layout) + 768 * channel;
    for (int r = 0; r < kScheduleRows; ++r) {
        const int recordRow = r == 0 ? 7 : r - 1;
        for (int h = 0; h < kScheduleHours; ++h) {
            const int at = base + 96 * recordRow + 4 * h;
            if (static_cast<int16_t>(ReadInt(record, at) & 0xFFFF) != schedule[r][h])
                WriteInt(record, at, static_cast<uint16_t>(schedule[r][h]));
        }
    }
}

QString ScheduleHint(const PageTexts& texts, const std::vector<ChannelSchedule>& schedules)
{
    bool motionMissing = false;
    bool sensorMissing = false;
    for (std::size_t r = 1; r < texts.size() && r - 1 < schedules.size(); ++r) {
        if (texts[r].size() < 4 || texts[r][1] != "On")
            continue;
        bool motion = false;
        bool sensor = false;
        for (const auto& day : schedules[r - 1])
            for (int16_t cell : day) {
                motion = motion || cell == 2 || cell == 4;
                sensor = sensor || cell == 3 || cell == 4;
            }
        motionMissing = motionMissing || (texts[r][2] != "OFF" && !texts[r][2].isEmpty() && !motion);
        sensorMissing = sensorMissing || (texts[r][3] != "OFF" && !texts[r][3].isEmpty() && !sensor);
    }
    if (motionMissing && sensorMissing)
        return "Please go to \"Schedule Record\" to setup the Motion and Sensor Schedule !";
    if (motionMissing)
        return "Please go to \"Schedule Record\" to setup the Motion Schedule !";
    if (sensorMissing)
        return "Please go to \"Schedule Record\" to setup the Sensor Schedule !";
    return QString();
}

} // namespace setup
