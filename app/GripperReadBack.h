#pragma once
// Puts the acceleration and force limit the gripper runs with into their
// edits after connecting, so that "Apply" without an edit sends back what
// the gripper already has instead of a design value.
class TFloatEdit;
class THXT;

// Reads GET_ACCELERATION and GET_FORCE_LIMIT; an edit whose request the
// gripper refuses (or answers with anything but one finite float) keeps
// its value.
void ReadBackSettings(THXT& gripper, TFloatEdit& acceleration, TFloatEdit& forceLimit);
