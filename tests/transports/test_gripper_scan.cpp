// The gripper scan against simulators on pseudo-terminals (each at a line
// speed of its own), over TCP and on the virtual CAN bus, with no
// QCoreApplication, as in the library. The system's own ports are never
// tried here: every test names its connections.
#include "ConnectionString.h"
#include "Framing.h"
#include "GripperScan.h"
#include "HXT_commands.h"
#include "SimChild.h"

#include <QSerialPort>
#include <QString>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

TScanOptions Named(const QStringList& connections)
{
    TScanOptions options;
    options.SystemPorts = false;
    options.Connections = connections;
    return options;
}

// A pseudo-terminal whose other side nobody answers on, linked at a path in
// a temporary folder; it reads everything written to the port.
class SilentLine {
public:
    SilentLine()
    {
        char folder[] = "/tmp/krm-scan-XXXXXX";
        if (::mkdtemp(folder) == nullptr)
            return;
        folder_ = folder;
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        path_ = folder_ + "/tty";
        if (::symlink(::ptsname(master_), path_.c_str()) != 0)
            path_.clear();
    }
    ~SilentLine()
    {
        if (!path_.empty())
            ::unlink(path_.c_str());
        if (master_ >= 0)
            ::close(master_);
        if (!folder_.empty())
            ::rmdir(folder_.c_str());
    }
    const std::string& Path() const { return path_; }
    std::string Written()
    {
        std::string bytes;
        char buffer[256];
        for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, static_cast<size_t>(n));
        return bytes;
    }

private:
    std::string folder_;
    std::string path_;
    int master_ = -1;
};

std::string RequestBytes()
{
    const TByteArray frame = BuildFrame(CMD_GET_SYSINFO, nullptr, 0);
    return std::string(frame.begin(), frame.end());
}

} // namespace

TEST(GripperScan, FindsEachSimulatorAtItsLineSpeedOverSerialAndTcp)
{
    SimChild fast({"--serial", "1001", "--baud", "115200"}, true);
    SimChild middle({"--serial", "1002", "--fw-rev", "300", "--baud", "9600"}, true);
    SimChild slow({"--serial", "1003", "--type", "7", "--baud", "1200"}, true);
    ASSERT_TRUE(fast.Started() && middle.Started() && slow.Started());

    const TScanResult result = ScanForGrippers(Named({Q(fast.Serial()), Q(middle.Serial()), Q(slow.Serial()),
        Q(slow.Tcp())}));

    ASSERT_EQ(result.Found.size(), 4u);
    EXPECT_TRUE(result.Problems.empty());
    EXPECT_EQ(result.Found[0].Connection, Q(fast.Serial() + "@115200"));
    EXPECT_EQ(result.Found[0].SerialNumber, 1001u);
    EXPECT_EQ(result.Found[1].Connection, Q(middle.Serial() + "@9600"));
    EXPECT_EQ(result.Found[1].SerialNumber, 1002u);
    EXPECT_EQ(result.Found[1].FirmwareRevision, 300);
    EXPECT_EQ(result.Found[2].Connection, Q(slow.Serial() + "@1200"));
    EXPECT_EQ(result.Found[2].GripperType, 7);
    EXPECT_EQ(result.Found[3].Connection, Q(slow.Tcp()));
    EXPECT_EQ(result.Found[3].SerialNumber, 1003u);
    EXPECT_EQ(result.Found[3].HardwareRevision, 2);

    // The connection strings found open the gripper again: they parse back.
    for (const TFoundGripper& found : result.Found)
        EXPECT_NO_THROW(ParseConnectionString(found.Connection)) << found.Connection.toStdString();

    // A line speed given keeps the scan to it.
    const TScanResult wrongSpeed = ScanForGrippers(Named({Q(slow.Serial() + "@9600")}));
    EXPECT_TRUE(wrongSpeed.Found.empty());
    EXPECT_TRUE(wrongSpeed.Problems.empty());
}

TEST(GripperScan, WritesOnlyTheRequestOncePerLineSpeed)
{
    SilentLine line;
    ASSERT_FALSE(line.Path().empty());
    TScanOptions options = Named({Q("serial:" + line.Path())});
    const TScanResult result = ScanForGrippers(options);
    EXPECT_TRUE(result.Found.empty());
    EXPECT_TRUE(result.Problems.empty());
    std::string expected;
    for (size_t i = 0; i < options.LineSpeeds.size(); ++i)
        expected += RequestBytes();
    EXPECT_EQ(line.Written(), expected);
    EXPECT_EQ(options.LineSpeeds.size(), 8u);
    EXPECT_EQ(options.LineSpeeds.front(), 115200) << "the default line speed comes first";
}

TEST(GripperScan, APortInUseIsReportedAndLeftAlone)
{
    SilentLine line;
    ASSERT_FALSE(line.Path().empty());
    QSerialPort holder;
    holder.setPortName(Q(line.Path()));
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));

    const TScanResult result = ScanForGrippers(Named({Q("serial:" + line.Path())}));
    EXPECT_TRUE(result.Found.empty());
    ASSERT_EQ(result.Problems.size(), 1u);
    EXPECT_EQ(result.Problems[0].Kind, TScanProblem::TKind::InUse);
    EXPECT_EQ(result.Problems[0].Connection, Q("serial:" + line.Path()));
    EXPECT_EQ(result.Problems[0].Text,
        Q(line.Path() + " is in use by another program: close that program or choose another port."));
    EXPECT_EQ(line.Written(), "") << "nothing is written to a port in use";
}

TEST(GripperScan, UnreachableConnectionsAreProblemsAndMalformedOnesAreRefused)
{
    const TScanResult result = ScanForGrippers(Named({QStringLiteral("serial:/nonexistent/krm-tty"),
        QStringLiteral("tcp:127.0.0.1:1")}));
    EXPECT_TRUE(result.Found.empty());
    ASSERT_EQ(result.Problems.size(), 2u);
    EXPECT_EQ(result.Problems[0].Kind, TScanProblem::TKind::Unreachable);
    EXPECT_TRUE(result.Problems[0].Text.contains(QStringLiteral("does not exist")));
    EXPECT_EQ(result.Problems[1].Connection, QStringLiteral("tcp:127.0.0.1:1"));

    EXPECT_THROW(ScanForGrippers(Named({QStringLiteral("serial:/dev/null@123")})), TConnectionStringError);
}
