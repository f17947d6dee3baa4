// Settings files: defaults, names without regard to case, integer forms,
// writing in place, and where the files live.
#include "ConnectionRecord.h"
#include "IniFile.h"
#include "SerialDevice.h"
#include "TransportTestSupport.h"
#include "../common/SpecialFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ino_t Inode(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

// Permission bits bind root only through its file-system user and group id: while this
// lives, files are created and checked as an ordinary user.
class TOrdinaryUser {
public:
    explicit TOrdinaryUser(const QString& folder)
    {
        if (::geteuid() != 0)
            return;
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
        ::setfsgid(65534);
        ::setfsuid(65534);
        FSwitched = true;
    }
    ~TOrdinaryUser()
    {
        if (FSwitched) {
            ::setfsuid(0);
            ::setfsgid(0);
        }
    }
    TOrdinaryUser(const TOrdinaryUser&) = delete;
    TOrdinaryUser& operator=(const TOrdinaryUser&) = delete;

private:
    bool FSwitched = false;
};

} // namespace

using SettingsFile = TransportTest;

TEST_F(SettingsFile, MissingFileSectionOrKeyReadsAsDefault)
{
    TIniFile missing(Folder.filePath(QStringLiteral("none.cfg")));
    EXPECT_EQ(missing.ReadString(QStringLiteral("Common"), QStringLiteral("Portname"), QStringLiteral("dflt")),
        QStringLiteral("dflt"));
    EXPECT_EQ(missing.ReadInteger(QStringLiteral("common"), QStringLiteral("port"), 1000), 1000);
    EXPECT_FALSE(QFile::exists(missing.FileName())) << "reading creates nothing";

    WriteSettingsFile(QStringLiteral("a.cfg"), "[other]\nport=5\n");
    TIniFile file(Folder.filePath(QStringLiteral("a.cfg")));
    EXPECT_EQ(file.ReadInteger(QStringLiteral("common"), QStringLiteral("port"), 1000), 1000);
    EXPECT_EQ(file.ReadInteger(QStringLiteral("other"), QStringLiteral("baud"), 7), 7);
}

TEST_F(SettingsFile, SectionAndKeyNamesIgnoreCase)
{
    WriteSettingsFile(QStringLiteral("a.cfg"), "\xEF\xBB\xBF; hand-made\r\n[COMMON]\r\n  PortName = ttyUSB1  \r\nHOST=gripper\r\n");
    TIniFile file(Folder.filePath(QStringLiteral("a.cfg")));
    EXPECT_EQ(file.ReadString(QStringLiteral("Common"), QStringLiteral("Portname"), QString()), QStringLiteral("ttyUSB1"));
    EXPECT_EQ(file.ReadString(QStringLiteral("common"), QStringLiteral("host"), QString()), QStringLiteral("gripper"));

    ASSERT_TRUE(file.WriteString(QStringLiteral("common"), QStringLiteral("host"), QStringLiteral("10.0.0.2")));
    EXPECT_EQ(ReadSettingsFile(QStringLiteral("a.cfg")),
        QByteArray("\xEF\xBB\xBF; hand-made\r\n[COMMON]\r\n  PortName = ttyUSB1  \r\nHOST=10.0.0.2\r\n"))
        << "the value is replaced in place and every other byte is kept";
}

TEST_F(SettingsFile, IntegersInDecimalAndHexadecimalElseDefault)
{
    WriteSettingsFile(QStringLiteral("a.cfg"),
        "[common]\ndec=-17\nhex1=0x1F\nhex2=$10\nword=fast\nmixed=12ab\nempty=\nspaced= 42 \nhuge=99999999999\n");
    TIniFile file(Folder.filePath(QStringLiteral("a.cfg")));
    const QString s = QStringLiteral("common");
    EXPECT_EQ(file.ReadInteger(s, QStringLiteral("dec"), 0), -17);
    EXPECT_EQ(file.ReadInteger(s, QStringLiteral("hex1"), 0), 31);
    EXPECT_EQ(file.ReadInteger(s, QStringLiteral("hex2"), 0), 16);
    EXPECT_EQ(file.ReadInteger(s, QStringLiteral("word"), 3), 3);
    EXPECT_EQ(file.ReadInteger(s, QStringLiteral("mixed"), 3), 3);
    EXPECT_EQ(file.ReadInteger(s, QStringLiteral("empty"), 3), 3);
    EXPECT_EQ(file.ReadInteger(s, QStringLiteral("spaced"), 3), 42);
    EXPECT_EQ(file.ReadInteger(s, QStringLiteral("huge"), 3), 3);
}

TEST_F(SettingsFile, FirstWriteCreatesTheFileAndLaterWritesExtendIt)
{
    TIniFile file(Folder.filePath(QStringLiteral("new.cfg")));
    ASSERT_TRUE(file.WriteInteger(QStringLiteral("common"), QStringLiteral("port"), -2000));
    EXPECT_EQ(ReadSettingsFile(QStringLiteral("new.cfg")), QByteArray("[common]\nport=-2000\n"));

    ASSERT_TRUE(file.WriteString(QStringLiteral("Common"), QStringLiteral("host"), QStringLiteral("h")));
    ASSERT_TRUE(file.WriteInteger(QStringLiteral("second"), QStringLiteral("x"), 1));
    ASSERT_TRUE(file.WriteInteger(QStringLiteral("COMMON"), QStringLiteral("PORT"), 7));
    EXPECT_EQ(ReadSettingsFile(QStringLiteral("new.cfg")),
        QByteArray("[common]\nport=7\nhost=h\n\n[second]\nx=1\n"))
        << "keys keep the spelling of their first writing";
    EXPECT_EQ(file.ReadInteger(QStringLiteral("common"), QStringLiteral("port"), 0), 7);
}

TEST_F(SettingsFile, LongStringsAreCut)
{
    TIniFile file(Folder.filePath(QStringLiteral("a.cfg")));
    ASSERT_TRUE(file.WriteString(QStringLiteral("common"), QStringLiteral("host"), QString(3000, u'h')));
    EXPECT_EQ(file.ReadString(QStringLiteral("common"), QStringLiteral("host"), QString()).size(),
        TIniFile::MaxStringLength);
}

TEST_F(SettingsFile, UnwritableFileReportsFailureAndKeepsTheOldContent)
{
    TIniFile inMissingFolder(Folder.filePath(QStringLiteral("no/such/folder/a.cfg")));
    EXPECT_FALSE(inMissingFolder.WriteInteger(QStringLiteral("common"), QStringLiteral("port"), 1));

    // A folder in the file's place cannot be replaced by a file.
    ASSERT_TRUE(QDir(Folder.path()).mkdir(QStringLiteral("blocked.cfg")));
    TIniFile blocked(Folder.filePath(QStringLiteral("blocked.cfg")));
    EXPECT_FALSE(blocked.WriteInteger(QStringLiteral("common"), QStringLiteral("port"), 1));
    EXPECT_EQ(blocked.ReadInteger(QStringLiteral("common"), QStringLiteral("port"), 1000), 1000);
}

TEST_F(SettingsFile, ForeignBytesAndLineEndsSurviveAWrite)
{
    // Latin-1 text, CR LF, LF and lone CR line ends, no line end at the end.
    const QByteArray original = "; Gr\xF6\xDF" "e f\xFCr Greifer\r\n[common]\r\nhost=m\xFChle\r\n"
                                "baudrate = 3 \n\n[other]\rname=\xC3\xBC\r\n;last";
    WriteSettingsFile(QStringLiteral("a.cfg"), original);
    TIniFile file(Folder.filePath(QStringLiteral("a.cfg")));
    const QString host = file.ReadString(QStringLiteral("common"), QStringLiteral("host"), QString());
    EXPECT_EQ(host, QStringLiteral("m\u00FChle")) << "invalid UTF-8 reads as Latin-1";
    EXPECT_EQ(file.ReadString(QStringLiteral("other"), QStringLiteral("name"), QString()), QStringLiteral("\u00FC"));

    const ino_t before = Inode(file.FileName());
    ASSERT_TRUE(file.WriteString(QStringLiteral("common"), QStringLiteral("host"), host));
    ASSERT_TRUE(file.WriteInteger(QStringLiteral("common"), QStringLiteral("baudrate"), 3));
    EXPECT_EQ(ReadSettingsFile(QStringLiteral("a.cfg")), original);
    EXPECT_EQ(Inode(file.FileName()), before) << "values read back unchanged do not rewrite the file";

    ASSERT_TRUE(file.Write(QStringLiteral("common"), {{QStringLiteral("host"), QStringLiteral("k\u00FChl")},
                                                         {QStringLiteral("port"), QStringLiteral("1000")}}));
    ASSERT_TRUE(file.WriteString(QStringLiteral("new"), QStringLiteral("k"), QStringLiteral("v")));
    EXPECT_EQ(ReadSettingsFile(QStringLiteral("a.cfg")),
        QByteArray("; Gr\xF6\xDF" "e f\xFCr Greifer\r\n[common]\r\nhost=k\xC3\xBChl\r\n"
                   "baudrate = 3 \nport=1000\r\n\n[other]\rname=\xC3\xBC\r\n;last\r\n\r\n[new]\r\nk=v\r\n"));

    // New lines after a lone CR, and before an LF, keep both line ends apart.
    WriteSettingsFile(QStringLiteral("cr.cfg"), "[a]\rx=1\r\n\n[b]\ry=2\r");
    TIniFile lone(Folder.filePath(QStringLiteral("cr.cfg")));
    ASSERT_TRUE(lone.WriteString(QStringLiteral("a"), QStringLiteral("k"), QStringLiteral("v")));
    ASSERT_TRUE(lone.WriteString(QStringLiteral("c"), QStringLiteral("k"), QStringLiteral("v")));
    EXPECT_EQ(ReadSettingsFile(QStringLiteral("cr.cfg")), QByteArray("[a]\rx=1\r\nk=v\r\n\n[b]\ry=2\r\r[c]\rk=v\r"));

    EXPECT_FALSE(file.WriteString(QStringLiteral("common"), QStringLiteral("host"), QStringLiteral("a\nb")));
    EXPECT_FALSE(file.WriteString(QStringLiteral("common"), QStringLiteral("[x"), QStringLiteral("1")));
    EXPECT_EQ(file.ReadString(QStringLiteral("common"), QStringLiteral("host"), QString()), QStringLiteral("k\u00FChl"));

    // A byte order mark inside the file is a character of its name or value:
    // a section named with one is found again, not added once more.
    const QString marked = QStringLiteral("\uFEFF");
    ASSERT_TRUE(file.WriteString(marked, QStringLiteral("a"), marked + QStringLiteral("1")));
    ASSERT_TRUE(file.WriteString(marked, QStringLiteral("b"), QStringLiteral("2")));
    EXPECT_EQ(file.ReadString(marked, QStringLiteral("a"), QString()), marked + QStringLiteral("1"));
    EXPECT_EQ(ReadSettingsFile(QStringLiteral("a.cfg")).count("[\xEF\xBB\xBF]"), 1);
}

TEST_F(SettingsFile, LargeFilesReadInPiecesAsWhole)
{
    // A section is read through a buffer of 64 KiB. Around its edge lie a CR
    // LF (split apart when shift is 0), a line that starts with a byte order
    // mark (not a section header: only the file's first line may have one),
    // and a value longer than the buffer.
    const QString s = QStringLiteral("s");
    const QString t = QStringLiteral("t");
    const QByteArray head = "\xEF\xBB\xBF[s]\r\na=1\r\n[t]\r\n";
    for (int shift = -3; shift <= 3; ++shift) {
        SCOPED_TRACE(shift);
        const QByteArray filler = ';' + QByteArray(65534 + shift - head.size(), 'x') + "\r\n";
        const QByteArray longLine = "long=" + QByteArray(150000, 'y') + "\r\n";
        const QByteArray original =
            head + filler + "\xEF\xBB\xBF[s]\nc=3\n [S] \rb=2\r\n" + longLine + "[t]\nd=4";
        WriteSettingsFile(QStringLiteral("big.cfg"), original);
        TIniFile file(Folder.filePath(QStringLiteral("big.cfg")));

        const std::optional<TIniSection> inS = file.ReadSection(s);
        const std::optional<TIniSection> inT = file.ReadSection(t);
        ASSERT_TRUE(inS && inT);
        const TIniText whole(original);
        for (const char* key : {"a", "b", "c", "d", "long"}) {
            EXPECT_EQ(inS->Value(QLatin1String(key)), whole.Value(s, QLatin1String(key))) << key;
            EXPECT_EQ(inT->Value(QLatin1String(key)), whole.Value(t, QLatin1String(key))) << key;
        }
        EXPECT_EQ(inS->ReadInteger(QStringLiteral("a"), 0), 1);
        EXPECT_EQ(inS->ReadInteger(QStringLiteral("b"), 0), 2);
        EXPECT_EQ(inS->Value(QStringLiteral("c")), std::nullopt);
        EXPECT_EQ(inT->ReadInteger(QStringLiteral("c"), 0), 3);
        EXPECT_EQ(inS->ReadString(QStringLiteral("long"), {}), QString(TIniText::MaxStringLength, QLatin1Char('y')));

        const ino_t before = Inode(file.FileName());
        ASSERT_TRUE(file.Write(s, {{QStringLiteral("A"), QStringLiteral("1")}, {QStringLiteral("b"), QStringLiteral("2")}}));
        EXPECT_EQ(Inode(file.FileName()), before) << "unchanged values do not rewrite the file";
        ASSERT_TRUE(file.Write(s, {{QStringLiteral("b"), QStringLiteral("5")}, {QStringLiteral("e"), QStringLiteral("6")},
                                      {QStringLiteral("B"), QStringLiteral("7")}}));
        EXPECT_EQ(ReadSettingsFile(QStringLiteral("big.cfg")),
            head + filler + "\xEF\xBB\xBF[s]\nc=3\n [S] \rb=7\r\n" + longLine + "e=6\n[t]\nd=4");
    }
}

TEST_F(SettingsFile, FilesThatCannotBeReadOrWrittenAreLeftAlone)
{
    TOrdinaryUser user(Folder.path());
    const QByteArray original = "[common]\nhost=keep\n; operator notes\n";
    const struct {
        const char* name;
        QFileDevice::Permissions permissions;
        const char* hostRead;
    } cases[] = {
        {"read-only.cfg", QFileDevice::ReadOwner | QFileDevice::ReadOther, "keep"},
        {"write-only.cfg", QFileDevice::WriteOwner, "dflt"},
    };
    for (const auto& c : cases) {
        const QString name = QString::fromLatin1(c.name);
        WriteSettingsFile(name, original);
        ASSERT_TRUE(QFile::setPermissions(Folder.filePath(name), c.permissions));
        TIniFile file(Folder.filePath(name));
        EXPECT_EQ(file.ReadString(QStringLiteral("common"), QStringLiteral("host"), QStringLiteral("dflt")),
            QString::fromLatin1(c.hostRead)) << c.name;
        EXPECT_FALSE(file.WriteString(QStringLiteral("common"), QStringLiteral("host"), QStringLiteral("new"))) << c.name;
        EXPECT_FALSE(file.ErrorString().isEmpty()) << c.name;
        QFile::setPermissions(Folder.filePath(name), QFileDevice::ReadOwner);
        EXPECT_EQ(ReadSettingsFile(name), original) << c.name;
    }

    ASSERT_TRUE(QDir(Folder.path()).mkdir(QStringLiteral("dir.cfg")));
    TIniFile directory(Folder.filePath(QStringLiteral("dir.cfg")));
    EXPECT_FALSE(directory.WriteString(QStringLiteral("common"), QStringLiteral("host"), QStringLiteral("new")));
    EXPECT_TRUE(QFileInfo(directory.FileName()).isDir());

    // A writable file keeps its permissions when it is replaced.
    const QFileDevice::Permissions shared = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    WriteSettingsFile(QStringLiteral("shared.cfg"), original);
    ASSERT_TRUE(QFile::setPermissions(Folder.filePath(QStringLiteral("shared.cfg")), shared));
    TIniFile writable(Folder.filePath(QStringLiteral("shared.cfg")));
    ASSERT_TRUE(writable.WriteString(QStringLiteral("common"), QStringLiteral("host"), QStringLiteral("new")));
    EXPECT_EQ(QFile::permissions(writable.FileName()) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), shared);
}

TEST_F(SettingsFile, OnlyRegularFilesAreReadOrReplaced)
{
    const TNoWaitGuard guard(60);
    const QString section = QStringLiteral("common");
    const QString key = QStringLiteral("host");
    const auto path = [this](const char* name) { return Folder.filePath(QLatin1String(name)); };
    ASSERT_TRUE(MakeFifo(path("fifo.cfg")));
    ASSERT_TRUE(MakeSocket(path("socket.cfg")));
    ASSERT_TRUE(QDir(Folder.path()).mkdir(QStringLiteral("folder.cfg")));
    ASSERT_TRUE(MakeLink(QStringLiteral("fifo.cfg"), path("to-fifo.cfg")));
    ASSERT_TRUE(MakeLink(path("folder.cfg"), path("to-folder.cfg")));
    ASSERT_TRUE(MakeLink(QStringLiteral("missing.cfg"), path("dangling.cfg")));
    ASSERT_TRUE(MakeLink(QStringLiteral("loop.cfg"), path("loop.cfg")));
    struct TCase {
        const char* name;
        const char* problem;
    };
    std::vector<TCase> cases = {
        {"fifo.cfg", "it is a FIFO, not a regular file"},
        {"to-fifo.cfg", "it is a symbolic link to a FIFO, not to a regular file"},
        {"socket.cfg", "it is a socket, not a regular file"},
        {"folder.cfg", "it is a folder, not a regular file"},
        {"to-folder.cfg", "it is a symbolic link to a folder, not to a regular file"},
        {"dangling.cfg", "it is a symbolic link to a missing file"},
        {"loop.cfg", "it is a symbolic link that loops"},
    };
    if (MakeCharDevice(path("null.cfg"))) {
        ASSERT_TRUE(MakeLink(path("null.cfg"), path("to-null.cfg")));
        cases.push_back({"null.cfg", "it is a character device, not a regular file"});
        cases.push_back({"to-null.cfg", "it is a symbolic link to a character device, not to a regular file"});
    }
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = path(c.name);
        const TFileIdentity before = IdentityOf(name);
        TIniFile file(name);
        EXPECT_EQ(file.Problem(), QLatin1String(c.problem));
        EXPECT_EQ(file.ReadString(section, key, QStringLiteral("dflt")), QStringLiteral("dflt"));
        EXPECT_FALSE(file.Load());
        EXPECT_FALSE(file.WriteString(section, key, QStringLiteral("new")));
        EXPECT_EQ(file.ErrorString(), QLatin1String(c.problem));
        EXPECT_EQ(IdentityOf(name), before) << "left as it was";
    }
    QStringList made;
    for (const TCase& c : cases)
        made << QLatin1String(c.name);
    made.sort();
    EXPECT_EQ(QDir(Folder.path()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
        made) << "nothing was added: no temporary file, no dangling link's target";

    // A link to a regular file stays a link: its target is replaced.
    WriteSettingsFile(QStringLiteral("real.cfg"), "; notes\n[common]\nhost=a\n");
    ASSERT_TRUE(MakeLink(QStringLiteral("real.cfg"), path("link.cfg")));
    TIniFile linked(path("link.cfg"));
    EXPECT_EQ(linked.Problem(), QString());
    EXPECT_EQ(linked.ReadString(section, key, {}), QStringLiteral("a"));
    ASSERT_TRUE(linked.WriteString(section, key, QStringLiteral("b"))) << linked.ErrorString().toStdString();
    EXPECT_TRUE(QFileInfo(path("link.cfg")).isSymLink());
    EXPECT_EQ(ReadSettingsFile(QStringLiteral("real.cfg")), QByteArray("; notes\n[common]\nhost=b\n"));
}

TEST_F(SettingsFile, FilesLieInTheChosenFolderOrInTheUserFolder)
{
    EXPECT_EQ(SettingsFilePath(QStringLiteral("Analyzer.ini")), QDir(Folder.path()).filePath(QStringLiteral("Analyzer.ini")));
    TSerialDevice device(nullptr);
    EXPECT_EQ(device.Settings()->FileName(), Folder.filePath(QStringLiteral("uart.cfg")));

    SetSettingsFolderOverride(QString());
    EXPECT_EQ(SettingsFolder(), QCoreApplication::applicationDirPath()) << "run from the build folder, beside the program";

    QStandardPaths::setTestModeEnabled(true);
    SetSettingsFolderOverride(Folder.filePath(QStringLiteral("not-there")));
    const QString userFolder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    EXPECT_EQ(SettingsFolder(), userFolder);
    EXPECT_TRUE(QDir(userFolder).exists()) << "the user folder is made when needed";
    // The package's folder, writable or not (it is for root), is not used.
    SetSettingsFolderOverride(QStringLiteral("/usr/bin"));
    EXPECT_EQ(SettingsFolder(), userFolder);
    QStandardPaths::setTestModeEnabled(false);
}

TEST_F(SettingsFile, PortNameOfADeviceComesFromSectionCommon)
{
    TSerialDevice device(nullptr);
    EXPECT_EQ(device.GetPortName(), QString());
    WriteSettingsFile(QStringLiteral("uart.cfg"), "[common]\nbaudrate=3\n[COMMON]\nportname=ttyUSB3\n");
    EXPECT_EQ(device.GetPortName(), QStringLiteral("ttyUSB3"));
}

TEST_F(SettingsFile, ConnectionRecordRoundTripsEachInterfaceAndRefusesDamagedOnes)
{
    TIniFile ini(Folder.filePath(QStringLiteral("Analyzer.ini")));
    const QString section = QStringLiteral("Connection");
    EXPECT_FALSE(ReadConnection(ini, section)) << "nothing stored";

    const TConnectionParams made[] = {
        TSerialParams{QStringLiteral("/dev/serial/by-id/usb-FTDI-if00"), 115200},
        TTCPParams{QStringLiteral("127.0.0.1"), 1000},
        TCANParams{{QStringLiteral("virtualcan"), QStringLiteral("can0")}, NTCAN_BAUD_125, 0x3A0},
    };
    for (const TConnectionParams& params : made) {
        ASSERT_TRUE(WriteConnection(ini, section, params));
        EXPECT_EQ(ReadConnection(ini, section), params) << DescribeConnection(params).toStdString();
    }
    // A record is written whole or not at all.
    const QByteArray whole = ReadSettingsFile(QStringLiteral("Analyzer.ini"));
    EXPECT_FALSE(WriteConnection(ini, section, TTCPParams{QStringLiteral("a\nb"), 1000}));
    EXPECT_EQ(ReadSettingsFile(QStringLiteral("Analyzer.ini")), whole);
    EXPECT_EQ(DescribeConnection(TSerialParams{QStringLiteral("ttyUSB0"), 115200}), QStringLiteral("Serial /dev/ttyUSB0 115200"));
    EXPECT_EQ(DescribeConnection(made[1]), QStringLiteral("TCP 127.0.0.1:1000"));
    EXPECT_EQ(DescribeConnection(TCANParams{{QStringLiteral("virtualcan"), QStringLiteral("can0")}}),
        QStringLiteral("CAN virtualcan:can0 250 kBit/s id 100"));

    // A record damaged by hand gives nothing to reconnect to.
    for (const QByteArray& damaged : {QByteArray("Interface=uart\nPortName=ttyS0\nBaudrate=1234\n"),
             QByteArray("Interface=tcp\nHost=127.0.0.1\nTcpPort=70000\n"), QByteArray("Interface=tcp\nTcpPort=1000\n"),
             QByteArray("Interface=can\nCanPlugin=virtualcan\nCanInterface=can0\nBitrate=300\nTargetId=100\n"),
             QByteArray("Interface=modem\n")}) {
        WriteSettingsFile(QStringLiteral("Analyzer.ini"), "[Connection]\n" + damaged);
        EXPECT_FALSE(ReadConnection(ini, section)) << damaged.toStdString();
    }
}
