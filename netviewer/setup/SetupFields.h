#pragma once
// The DVR setup record as pages of rows: where each value lies in the small
// (up to 8 channels) and big (16 channels) layouts, how it shows as text,
// which texts the drop-downs offer and which checks a page must pass before
// it is written back. No widgets: the DVR Configuration dialog drives it.
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace setup {

inline constexpr std::size_t kSmallRecordSize = 12044;
inline constexpr std::size_t kLargeRecordSize = 23736;
inline constexpr int kSmallChannels = 8;
inline constexpr int kLargeChannels = 16;
// The record's schedule: per channel 8 day rows of 24 hourly 32-bit cells.
inline constexpr int kScheduleRows = 8;
inline constexpr int kScheduleHours = 24;

// Message texts of the page checks, as the operator sees them.
inline constexpr const char* kPtzIdConflict = "PTZ ID Conflict Error !";
inline constexpr const char* kValueRange = "Yon can setup the value between 0 and 99";
inline constexpr const char* kPipDistinct = "Please select different channel for Main, Sub1, Sub2, Sub3 of PIP.";
inline constexpr const char* kPasswordDigits = "Password should be 4 digits!";
inline constexpr const char* kNameLength = "Maximun lenght of display name is 8";
inline constexpr const char* kFrameRateNegative = "The available frame rate should be greater than 0.";

enum class Layout { Small, Large };

// What the pages depend on besides the record.
struct SetupContext {
    Layout layout = Layout::Small;
    int dvrType = 5;      // N: channels + 1, as the DVR reports it (4 counts as 5)
    QString lookupHost;   // shown on the "Server IP" row

    // The layout a record of `size` bytes has; nullopt for any other size.
    static std::optional<Layout> LayoutOfSize(std::size_t size);
    // N as the pages use it: 4 read as 5, and never more channels than the
    // layout holds, whatever the DVR claims.
    int Channels() const;
    int EffectiveN() const { return Channels() + 1; }
    std::size_t RecordSize() const { return layout == Layout::Small ? kSmallRecordSize : kLargeRecordSize; }
};

// 4 is read as 5; anything below 2 as one channel.
int ChannelCountFromDvrType(int dvrType);

enum class FieldKind {
    None,       // a heading or an "ALL CH" cell: no value
    List,       // 32-bit index into `list`
    OnOff,      // 32-bit, "On" for non-zero
    Biased,     // 32-bit v shown with `format` of v + 1
    Number,     // 32-bit shown "%d"
    Port,       // 32-bit shown "%04d"
    Text,       // `width` bytes of 8-bit text, at most `shown` characters shown
    Password,   // 4 ASCII digit bytes
    Address,    // 4 bytes shown "%d.%d.%d.%d"
    Literal,    // no record bytes: `format` is the text
    TimeZone,   // list, "NONE" while the auto-time field at `aux` is 0
    Clock,      // six 32-bit fields: year-2000, two date fields, h, m, s
    Resolution, // list by video type, "Disable" from 4 on
    SequenceOrder, // a channel, or a group code that depends on N
};

struct Field {
    FieldKind kind = FieldKind::None;
    int offset = -1;
    bool stored = false;
    QStringList list;     // index -> text
    QStringList choices;  // drop-down texts when they differ from `list`
    QString format;
    int width = 4;
    int shown = 0;
    // TimeZone: offset of "Auto Time Set"; Resolution: 0 when the DVR has no
    // extra stream (always "Disable").
    int aux = -1;
};

struct Row {
    QString label;
    std::vector<Field> cells; // one per value column
};

enum class PageCheck { None, PtzIds, NameLength, Range99, PipDistinct, Passwords, FrameBudget };

struct Page {
    QString parent;
    QString name;
    QStringList columns;         // value columns after "Items"
    std::vector<Row> rows;
    bool allChannelsRow = false; // row 0 reads "ALL CH"
    PageCheck check = PageCheck::None;
    std::vector<int> comboColumns;    // grid columns (1-based) edited by drop-down
    std::vector<int> readOnlyColumns; // grid columns never edited besides 0
    std::vector<int> lockedRows;
    std::vector<int> shadedRows;
    QString validCharacters;
    int maxLength = 0;
    bool schedule = false;       // the schedule painter instead of the grid
};

// The DVR page tree: every parent with its pages in order.
struct PageGroup {
    QString parent;
    QStringList pages;
};
const std::vector<PageGroup>& DvrPageTree();
inline constexpr const char* kDvrRootName = "DVR Configuration";
inline constexpr const char* kDisplayMiscPage = "Display Misc";

// A page of the record laid out for the context; nullopt for an unknown
// (parent, name) pair. Row texts that depend on values (the resolution row)
// are read from `record`.
std::optional<Page> BuildPage(const QString& parent, const QString& name, const SetupContext& context,
                              const std::vector<uint8_t>& record);

// The record's video signal type: 0 NTSC, 1 PAL.
int VideoSignalType(const std::vector<uint8_t>& record, Layout layout);

QString ShowField(const Field& field, const std::vector<uint8_t>& record, const SetupContext& context);
// The texts the drop-down of this cell offers.
QStringList FieldChoices(const Field& field);

// The cell texts of a page as shown from the record: [row][value column].
using PageTexts = std::vector<std::vector<QString>>;
PageTexts ShowPage(const Page& page, const std::vector<uint8_t>& record, const SetupContext& context);

// Writes the cells whose text differs from what was shown back into the
// record, after the page's check. On a refused check nothing is written and
// the message text is returned; an empty text means success.
QString StorePage(const Page& page, const PageTexts& shown, const PageTexts& edited, std::vector<uint8_t>& record,
                  const SetupContext& context);

// The frame-rate budget left by the "Record Quality" grid texts (rows 1..).
int AvailableFrameRate(const PageTexts& texts, int videoType, int effectiveN);
QString FrameRateHint(int available, int videoType);

// Schedule working grid of one channel: row 0 every day (record row 7),
// rows 1..7 record rows 0..6; the low 16 bits of each cell.
using ChannelSchedule = std::array<std::array<int16_t, kScheduleHours>, kScheduleRows>;
ChannelSchedule ReadSchedule(const std::vector<uint8_t>& record, Layout layout, int channel);
// Writes only the cells whose value differs from the record's low 16 bits.
void WriteSchedule(std::vector<uint8_t>& record, Layout layout, int channel, const ChannelSchedule& schedule);
// The schedule hint of "Record Channel Enable" from its grid texts.
QString ScheduleHint(const PageTexts& texts, const std::vector<ChannelSchedule>& schedules);

// Little-endian field access with bounds checks (out of range reads 0 and
// writes nothing).
int32_t ReadInt(const std::vector<uint8_t>& record, int offset);
void WriteInt(std::vector<uint8_t>& record, int offset, int32_t value);

} // namespace setup
