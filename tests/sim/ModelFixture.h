#pragma once
// A gripper model on a hand-driven clock, with its final answers collected.
#include "Answer.h"
#include "GripperModel.h"
#include "convert.h"

#include <gtest/gtest.h>

#include <vector>

struct TFinal {
    int origin;
    uint8_t command;
    uint16_t status;
};

class ModelFixture : public ::testing::Test {
protected:
    static constexpr int Client = 7;

    void Make(TGripperConfig config = {})
    {
        model = std::make_unique<TGripperModel>(config, [this] { return nowMs; });
        model->OnFinished = [this](int origin, TPacket&& p) {
            finals.push_back({origin, static_cast<uint8_t>(p.command), WordAt(p.data.data())});
        };
    }

    static TGripperConfig Referenced()
    {
        TGripperConfig c;
        c.startReferenced = true;
        return c;
    }

    uint16_t Status(uint8_t command, const TByteArray& payload = {})
    {
        TPacket p{command, static_cast<int32_t>(payload.size()), payload};
        const TPacket a = model->Handle(p, Client);
        EXPECT_EQ(a.command, command);
        EXPECT_GE(a.data.size(), 2u);
        return WordAt(a.data.data());
    }

    TByteArray Result(uint8_t command, const TByteArray& payload = {})
    {
        TPacket p{command, static_cast<int32_t>(payload.size()), payload};
        const TPacket a = model->Handle(p, Client);
        EXPECT_EQ(WordAt(a.data.data()), E_SUCCESS);
        return TByteArray(a.data.begin() + 2, a.data.end());
    }

    // Runs the clock forward in 5 ms steps, as the simulator's tick does.
    void Advance(double ms)
    {
        for (double left = ms; left > 0; left -= 5) {
            nowMs += std::min(5.0, left);
            model->Update();
        }
    }

    double nowMs = 1000;
    std::unique_ptr<TGripperModel> model;
    std::vector<TFinal> finals;
};

inline TByteArray F(std::initializer_list<float> values)
{
    TByteArray out;
    for (float v : values)
        PutFloat(out, v);
    return out;
}

inline TByteArray GotoPayload(float position, float speed, uint8_t flags = 0)
{
    TByteArray p{flags};
    PutFloat(p, position);
    PutFloat(p, speed);
    return p;
}
