#include "AppResources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitAppResources()
{
    Q_INIT_RESOURCE(app);
}

void RegisterAppResources()
{
    static const bool registered = [] {
        InitAppResources();
        return true;
    }();
    (void)registered;
}
