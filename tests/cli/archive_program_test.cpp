// The built mailvane program reading archives the way admins fetch them: the sample export as
// a .tgz, a .zip and on standard input gives the items and marks the folder gives, with folder
// paths from the archive's root; damaged and hostile archives convert what they can, exit 1
// and name the place in the report. Skipped while the program is not built.
#include <algorithm>
#include <filesystem>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "source/relative_folder.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace mailvane::testing {

namespace {

using namespace testsupport;
using ::testing::HasSubstr;

fs::path Program() { return BuiltProgram("mailvane"); }
fs::path Sample() { return SourceDir() / "examples" / "zimbra-export"; }

// Writes archives with Python's tarfile and zipfile: the sample (with a large incompressible
// file last, so that damage near the end falls after every item), and hostile entries.
constexpr const char* kMakeArchives = R"(
import base64, bz2, gzip, io, lzma, os, subprocess, sys, tarfile, zipfile
sample, out = sys.argv[1], sys.argv[2]
filler = os.urandom(1 << 20)
def sample_into(add):
    for root, dirs, files in os.walk(sample):
        dirs.sort()
        for f in sorted(files):
            p = os.path.join(root, f)
            add(os.path.relpath(p, sample), open(p, 'rb').read())
    add('Briefcase/zz-filler.bin', filler)
def tar(path, mode):
    with tarfile.open(path, mode, format=tarfile.GNU_FORMAT) as t:
        def add(name, data):
            info = tarfile.TarInfo('./' + name); info.size = len(data)
            t.addfile(info, io.BytesIO(data))
        sample_into(add)
tar(out + '/sample.tgz', 'w:gz')
tar(out + '/sample.tar', 'w')
with zipfile.ZipFile(out + '/sample.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    sample_into(lambda name, data: z.writestr(name, data))
data = open(out + '/sample.tgz', 'rb').read()
open(out + '/truncated.tgz', 'wb').write(data[:len(data) * 9 // 10])
bad = bytearray(data)
for i in range(6000, 6064): bad[i] ^= 0x5a
open(out + '/corrupt.tgz', 'wb').write(bytes(bad))
bad_crc = bytearray(data); bad_crc[-8] ^= 0xff
open(out + '/bad-crc.tgz', 'wb').write(bytes(bad_crc))
after_end = open(out + '/sample.tar', 'rb').read() + b'not part of the archive\n'
open(out + '/trailing.tar', 'wb').write(after_end)
open(out + '/trailing.tgz', 'wb').write(gzip.compress(after_end))
tar_bytes = open(out + '/sample.tar', 'rb').read()
open(out + '/after.tar.bz2', 'wb').write(bz2.compress(tar_bytes) + b'not part of the archive\n')
open(out + '/after.tar.xz', 'wb').write(lzma.compress(tar_bytes) + b'not part of the archive\n')
zst = subprocess.run(['zstd', '-q', '-c'], input=tar_bytes, stdout=subprocess.PIPE, check=True).stdout
open(out + '/after.tar.zst', 'wb').write(zst + b'not part of the archive\n')
open(out + '/after.zip', 'wb').write(open(out + '/sample.zip', 'rb').read() + b'not part of it\n')
packed = gzip.compress(tar_bytes)
open(out + '/broken-start.tgz', 'wb').write(packed[:12] + bytes(40) + packed[52:])
tar_bytes = bytearray(open(out + '/sample.tar', 'rb').read())
headers = [o for o in range(0, len(tar_bytes), 512) if tar_bytes[o + 257:o + 262] == b'ustar']
middle = headers[len(headers) // 2]
tar_bytes[middle + 148:middle + 156] = b'99999999'
open(out + '/bad-header.tar', 'wb').write(bytes(tar_bytes))
def message(subject):
    return ('From: a@example.com\r\nSubject: %s\r\n\r\nbody\r\n' % subject).encode()
# Every file before its record, with more of them waiting than fit in memory: 80 MB of
# messages, each with a copy of an unread message's record.
with tarfile.open(out + '/spread.tgz', 'w:gz', compresslevel=1) as t:
    record = open(os.path.join(sample, 'Inbox', '0000000258-Grüße aus München.eml.meta'), 'rb').read()
    entries = []
    for i in range(25):
        mail = message('bulk %02d' % i).replace(b'body', base64.encodebytes(os.urandom(3 << 20)))
        entries += [('Bulk/%02d.eml' % i, mail), ('Bulk/%02d.eml.meta' % i, record)]
    for name, data in sorted(entries, key=lambda e: e[0].endswith('.meta')):
        info = tarfile.TarInfo(name); info.size = len(data)
        t.addfile(info, io.BytesIO(data))
with tarfile.open(out + '/hostile.tgz', 'w:gz', format=tarfile.PAX_FORMAT) as t:
    def add(name, data=b'', kind=tarfile.REGTYPE, link=''):
        info = tarfile.TarInfo(name); info.type = kind; info.linkname = link
        info.size = len(data) if kind == tarfile.REGTYPE else 0
        t.addfile(info, io.BytesIO(data) if kind == tarfile.REGTYPE else None)
    add('../evil.eml', message('evil'))
    add('/Inbox/absolute.eml', message('absolute'))
    add('Inbox/link.eml', kind=tarfile.SYMTYPE, link='/etc/passwd')
    add('Inbox/fifo.eml', kind=tarfile.FIFOTYPE)
    add('Inbox/device.eml', kind=tarfile.CHRTYPE)
    add('Projects/' + 'Long name ' * 20 + '.eml', message('long'))
    add('Projects/Grüße 日本.eml', message('pax'))
    # Larger than a message is ever held whole: parsed as it is read.
    big = os.urandom(9 << 20)
    add('Projects/big.eml', message('big').replace(b'\r\n\r\nbody', (
        b'\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n'
        b'--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n--b\r\nContent-Type: '
        b'application/octet-stream; name=big.bin\r\nContent-Transfer-Encoding: base64\r\n\r\n' +
        base64.encodebytes(big).replace(b'\n', b'\r\n') + b'--b--\r\n')))
with tarfile.open(out + '/parts.tgz', 'w:gz') as t:
    parts = message('parts').replace(b'\r\n\r\nbody', (
        b'\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\n' +
        b'x' * (9 << 20) + b'\r\n' + b'--b\r\n\r\ny\r\n' * 4000 + b'--b--\r\n'))
    info = tarfile.TarInfo('Inbox/parts.eml'); info.size = len(parts)
    t.addfile(info, io.BytesIO(parts))
    header = message('header').replace(b'\r\n\r\nbody', b'\r\nX-Long: ' + b'h' * (9 << 20) + b'\r\n\r\nbody')
    info = tarfile.TarInfo('Inbox/header.eml'); info.size = len(header)
    t.addfile(info, io.BytesIO(header))
)";


// Every message's subject, PR_MESSAGE_FLAGS and attachment sizes, sorted: what a
// message's record adds shows in its flags.
std::string MarksOf(const fs::path& out) {
  const auto r = RunPypff("marks", OnlyFile(out, ".pst"));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

// Every message as (folder below the top of the store, subject, attachments), sorted, the
// folders without strip.
std::vector<MessageRow> MessagesOf(const fs::path& out, const std::string& strip = "") {
  std::vector<MessageRow> rows = CheckedMessageRows(OnlyFile(out, ".pst"));
  for (auto& [folder, subject, attachments] : rows) {
    if (!strip.empty() && folder.starts_with(strip)) folder.erase(0, strip.size());
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::string ReportOf(const fs::path& out) { return ReadFile(OnlyFile(out, ".log")); }

// The archives are made once for all the tests; each converts into folders of its own.
class ArchiveProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree_ = new ScratchDir;
    made_ = RunCommand({"python3", "-c", kMakeArchives, Sample().string(), tree_->path().string()});
  }
  static void TearDownTestSuite() { delete std::exchange(tree_, nullptr); }
  void SetUp() override {
    if (!fs::exists(Program())) GTEST_SKIP() << Program() << " is not built";
    if (!HavePypff()) GTEST_SKIP() << "python3-pypff is not installed";
    ASSERT_EQ(made_.exit_code, 0) << made_.err;
  }
  static CommandResult Convert(const std::string& archive, const std::string& out,
                                            bool from_stdin = false) {
    const std::string a = (Root() / archive).string();
    const std::string o = (Root() / out).string();
    if (from_stdin) {
      return RunCommand({"/bin/sh", "-c", "exec \"$0\" --keep-unread - \"$1\" < \"$2\"",
                         Program().string(), o, a});
    }
    return RunCommand({Program().string(), "--keep-unread", a, o});
  }
  static const fs::path& Root() { return tree_->path(); }
  static inline ScratchDir* tree_ = nullptr;
  static inline CommandResult made_;
};

TEST_F(ArchiveProgramTest, ArchivesFromAFileOrStandardInputGiveTheFolderItems) {
  ASSERT_EQ(RunCommand({Program().string(), "--keep-unread", Sample().string(),
                        (Root() / "folder").string()})
                .exit_code,
            0);
  // Each message's record comes after it in these archives: its marks still reach it.
  const std::string marks = MarksOf(Root() / "folder");
  // The folder's tree starts with the path it lay at; an archive's at its own root.
  const std::string prefix = source::RelativeFolder((Sample() / "x").string()) + "\\";
  std::vector<MessageRow> expected = MessagesOf(Root() / "folder", prefix);
  ASSERT_EQ(expected.size(), 24u);
  const struct {
    const char* archive;
    bool from_stdin;
  } cases[] = {{"sample.tgz", false}, {"sample.tgz", true}, {"sample.zip", false},
               {"sample.tar", true}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string out = "out" + std::to_string(++n);
    const auto r = Convert(c.archive, out, c.from_stdin);
    EXPECT_EQ(r.exit_code, 0) << c.archive << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr(c.from_stdin ? "Archive on standard input Queued for Conversion."
                                              : std::string(c.archive) + " (")) << c.archive;
    EXPECT_EQ(MessagesOf(Root() / out), expected) << c.archive;
    EXPECT_EQ(MarksOf(Root() / out), marks) << c.archive;
    EXPECT_THAT(ReportOf(Root() / out),
                HasSubstr("Items written: 10 messages, 4 contacts, 6 appointments, 3 tasks, 1 notes"));
  }
}

// An archive made with tar from an extracted export may put a whole folder of messages
// before their records: what waits goes to a temporary file without a name, and every
// message still gets its record's marks (unread, kept).
TEST_F(ArchiveProgramTest, MessagesFarAheadOfTheirRecordsKeepTheirMarks) {
  const auto r = Convert("spread.tgz", "spread");
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  std::string expected;
  for (int i = 0; i < 25; ++i) expected += "bulk " + std::string(i < 10 ? "0" : "") + std::to_string(i) + " 0\n";
  EXPECT_EQ(MarksOf(Root() / "spread"), expected + "done\n");
}

TEST_F(ArchiveProgramTest, DamagedArchivesConvertWhatTheyCanAndNameWhereReadingStopped) {
  const char* const after_end = "reading stopped at the end of the archive, after \"";
  const struct {
    const char* archive;
    std::string place;  // where the report says reading stopped
    bool converts;      // some items before the damage
    bool after_end = false;  // the cause: bytes after the end
  } cases[] = {
      {"truncated.tgz", "reading stopped ", true},
      {"corrupt.tgz", "reading stopped ", true},
      {"bad-header.tar", "reading stopped after \"./", true},
      {"bad-crc.tgz", std::string(after_end) + "./", true},
      {"trailing.tar", std::string(after_end) + "./", true, true},
      {"trailing.tgz", std::string(after_end) + "./", true, true},
      {"after.tar.bz2", std::string(after_end) + "./", true, true},
      {"after.tar.xz", std::string(after_end) + "./", true, true},
      {"after.tar.zst", std::string(after_end) + "./", true, true},
      {"after.zip", after_end, true, true},
      {"broken-start.tgz", "reading stopped at the start of the archive: the gzip data are damaged", false},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string out = "damaged" + std::to_string(++n);
    const auto r = Convert(c.archive, out);
    EXPECT_EQ(r.exit_code, 1) << c.archive << r.out << r.err;
    const std::string report = ReportOf(Root() / out);
    EXPECT_THAT(report, HasSubstr(std::string(c.archive) + " | read source | " + c.place)) << report;
    EXPECT_EQ(MessagesOf(Root() / out).empty(), !c.converts) << c.archive;
    if (c.after_end) {
      EXPECT_THAT(report, HasSubstr(": there are bytes after the end of the archive\n")) << c.archive;
    }
  }
}

TEST_F(ArchiveProgramTest, HostileEntriesAreNamedAndNothingLeavesTheStore) {
  const auto r = Convert("hostile.tgz", "hostile");
  EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
  const std::string report = ReportOf(Root() / "hostile");
  for (const char* line : {"../evil.eml | read | its path climbs out of the archive",
                           "Inbox/link.eml | read | it is a symbolic link inside the archive",
                           "Inbox/fifo.eml | read | it is a FIFO inside the archive",
                           "Inbox/device.eml | read | it is a device inside the archive"}) {
    EXPECT_THAT(report, HasSubstr(line));
  }
  // The absolute entry reads from the archive's root; long (GNU/pax) and non-ASCII names work.
  const std::vector<MessageRow> rows = MessagesOf(Root() / "hostile");
  const std::vector<MessageRow> expected = {{"Inbox", "absolute", 0},
                                            {"Projects", "big", 1},
                                            {"Projects", "long", 0},
                                            {"Projects", "pax", 0}};
  EXPECT_EQ(rows, expected);
  EXPECT_THAT(MarksOf(Root() / "hostile"), HasSubstr("big 17 9437184\n"));
  // A message read only once is still cut where its parts pass the limit.
  EXPECT_EQ(Convert("parts.tgz", "parts").exit_code, 0);
  EXPECT_THAT(ReportOf(Root() / "parts"), HasSubstr("more than 3000 MIME parts"));
  // Its header field past the limit cannot lose only its tail: the message ends before it.
  EXPECT_THAT(ReportOf(Root() / "parts"),
              HasSubstr("header.eml | the X-Long header field passes 256 KB; the message was cut off"));
  for (const auto& e : fs::recursive_directory_iterator(Root())) {
    EXPECT_NE(e.path().filename(), "evil.eml");
    EXPECT_FALSE(e.is_fifo()) << e.path();
  }
}

}  // namespace
}  // namespace mailvane::testing
