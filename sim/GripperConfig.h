#pragma once
// Fixed properties of the simulated gripper: its identity and its limits.
// Defaults describe a 50-class parallel gripper.
#include <cstdint>

struct TGripperConfig {
    // System information (answer of GET_SYSINFO).
    uint8_t gripperType = 1;
    uint8_t hardwareRevision = 2;
    uint16_t firmwareRevision = 259;
    uint32_t serialNumber = 12345678;

    // System limits (answer of GET_SYSTEM_LIMITS), mm, mm/s, mm/s², N.
    float stroke = 110.0f;
    float minSpeed = 5.0f;
    float maxSpeed = 420.0f;
    float minAcceleration = 100.0f;
    float maxAcceleration = 5000.0f;
    float minForce = 5.0f;
    float maxForce = 80.0f;
    // Eighth value of the limits answer: the largest grasping force with
    // overdrive mode on.
    float overdriveForce = 120.0f;

    // Motion and workpiece.
    float homingSpeed = 50.0f;   // mm/s
    float startPosition = 55.0f; // finger opening at power-up, mm
    bool startReferenced = false;
    float partWidth = 0.0f;      // width of the part between the fingers; 0: none
    int partLostAfterMs = 0;     // a held part slips out after this time; 0: never
    // Grasping travels up to this far below the nominal width before it
    // reports "no part".
    float graspTolerance = 10.0f;
};
