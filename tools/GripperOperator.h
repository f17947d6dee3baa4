#pragma once
// Plugs the program's operator side into a gripper object: the interface
// selection and parameter dialogs of its dispatcher, an error box for each
// transport report, and the command log window as its packet log.
class THXT;

void AttachOperator(THXT& gripper);
