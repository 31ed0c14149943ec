#include "pst/messaging/table_templates.h"

#include <array>

namespace mailvane::pst::messaging {

namespace {
constexpr std::array<ltp::PropTag, 13> kHierarchy{
    0x0E300102, 0x0E330014, 0x0E340102, 0x0E380003, 0x3001001F, 0x36020003, 0x36030003,
    0x360A000B, 0x3613001F, 0x66350003, 0x66360003, 0x67F20003, 0x67F30003};

constexpr std::array<ltp::PropTag, 27> kContents{
    0x00170003, 0x001A001F, 0x00360003, 0x0037001F, 0x00390040, 0x0042001F, 0x0057000B,
    0x0058000B, 0x0070001F, 0x00710102, 0x0E03001F, 0x0E04001F, 0x0E060040, 0x0E070003,
    0x0E080003, 0x0E170003, 0x0E300102, 0x0E330014, 0x0E340102, 0x0E380003, 0x0E3C0102,
    0x0E3D0102, 0x10970003, 0x30080040, 0x65C60003, 0x67F20003, 0x67F30003};

constexpr std::array<ltp::PropTag, 15> kAssocContents{
    0x001A001F, 0x0E070003, 0x0E170003, 0x3001001F, 0x67F20003, 0x67F30003, 0x6800001F,
    0x6803000B, 0x68051003, 0x682F001F, 0x70030003, 0x70040102, 0x70050102, 0x7006001F,
    0x70070003};

constexpr std::array<ltp::PropTag, 19> kSearchContents{
    0x00170003, 0x001A001F, 0x00360003, 0x0037001F, 0x0042001F, 0x0057000B, 0x0058000B,
    0x0E03001F, 0x0E04001F, 0x0E05001F, 0x0E060040, 0x0E070003, 0x0E080003, 0x0E170003,
    0x0E2A000B, 0x30080040, 0x67F10003, 0x67F20003, 0x67F30003};

constexpr std::array<ltp::PropTag, 6> kAttachment{0x0E200003, 0x3704001F, 0x37050003,
                                             0x370B0003, 0x67F20003, 0x67F30003};

constexpr std::array<ltp::PropTag, 14> kRecipient{
    0x0C150003, 0x0E0F000B, 0x0FF90102, 0x0FFE0003, 0x0FFF0102, 0x3001001F, 0x3002001F,
    0x3003001F, 0x300B0102, 0x39000003, 0x39FF001F, 0x3A40000B, 0x67F20003, 0x67F30003};

constexpr std::array<ltp::PropTag, 4> kReceiveFolder{0x001A001F, 0x66050003, 0x67F20003, 0x67F30003};

constexpr std::array<ltp::PropTag, 10> kOutgoingQueue{0x000F0040, 0x00390040, 0x0E070003,
                                                 0x0E100003, 0x0E140003, 0x0E29001F,
                                                 0x0EA20003, 0x67F10003, 0x67F20003,
                                                 0x67F30003};

constexpr std::array<ltp::PropTag, 5> k6B6{0x0E330014, 0x0E370102, 0x0E380003, 0x67F20003,
                                      0x67F30003};
constexpr std::array<ltp::PropTag, 9> k6D7{0x001A001F, 0x0E300102, 0x0E310102,
                                      0x0E330014, 0x0E340102, 0x0E380003,
                                      0x0E3E0102, 0x67F20003, 0x67F30003};
constexpr std::array<ltp::PropTag, 4> k6F8{0x0E330014, 0x30070040, 0x67F20003, 0x67F30003};
}  // namespace

std::span<const ltp::PropTag> HierarchyColumns() { return kHierarchy; }
std::span<const ltp::PropTag> ContentsColumns() { return kContents; }
std::span<const ltp::PropTag> AssocContentsColumns() { return kAssocContents; }
std::span<const ltp::PropTag> SearchContentsColumns() { return kSearchContents; }
std::span<const ltp::PropTag> AttachmentColumns() { return kAttachment; }
std::span<const ltp::PropTag> RecipientColumns() { return kRecipient; }
std::span<const ltp::PropTag> ReceiveFolderColumns() { return kReceiveFolder; }
std::span<const ltp::PropTag> OutgoingQueueColumns() { return kOutgoingQueue; }
std::span<const ltp::PropTag> Internal6B6Columns() { return k6B6; }
std::span<const ltp::PropTag> Internal6D7Columns() { return k6D7; }
std::span<const ltp::PropTag> Internal6F8Columns() { return k6F8; }

}  // namespace mailvane::pst::messaging
