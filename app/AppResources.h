#pragma once
// The program's pictures (icon, Fast Stop button) are compiled into the
// krm_app library; they must be registered once before the first lookup.
void RegisterAppResources();
