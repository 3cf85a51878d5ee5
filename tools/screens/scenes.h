// The launcher's key states, set on the launcher state for a picture of the
// frame: make screens draws each at every scale, and the tests keep the 100 %
// frame of each as it was drawn before the window learnt to scale.
#pragma once
#include <windows.h>

struct Scene {
    const char *name;
    void (*set)();  // on the state of a fresh start (FreshScene)
};

extern const Scene Scenes[];
extern const int SceneCount;

// The state of a fresh start, with the busy band a third of the way across
// (for a painter whose tick source is SceneTickSource).
void FreshScene();
extern DWORD SceneTicks;
DWORD WINAPI SceneTickSource();
