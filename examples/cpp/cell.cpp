// A cell's gripper cycle: home, then grasp and release the part 20 times,
// each with its duration, then the grasping statistics.
//
//   cell tcp:127.0.0.1:1000      (or the connection in KRM_CONNECT)
#include <krm/krm.hpp>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const char* connection = argc > 1 ? argv[1] : std::getenv("KRM_CONNECT");
    if (connection == nullptr) {
        std::fprintf(stderr, "usage: cell CONNECTION (or set KRM_CONNECT)\n");
        return 2;
    }
    try {
        krm::Gripper g = krm::Gripper::open(connection);
        const krm::MotionResult home = g.home();
        std::printf("home: %s in %.3f s\n", krm::status_text(home.status).c_str(), home.duration.count());
        g.stats(/*reset=*/true);
        for (int cycle = 1; cycle <= 20; ++cycle) {
            const krm::MotionResult grasp = g.grasp(20.0, 100.0);
            const krm::MotionResult release = g.release(60.0, 200.0);
            std::printf("cycle %d: grasp %s at %.1f mm in %.3f s, release in %.3f s\n", cycle,
                krm::status_name(grasp.status).c_str(), grasp.position, grasp.duration.count(), release.duration.count());
            if (!grasp.ok() || !release.ok())
                return 1;
        }
        const krm::Stats stats = g.stats();
        std::printf("grasps %u, not found %u, lost %u\n", stats.grasps, stats.not_found, stats.lost);
    } catch (const krm::Error& error) {
        std::fprintf(stderr, "cell: %s\n", error.what());
        return 1;
    }
    return 0;
}
