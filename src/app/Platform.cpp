#include "app/Platform.h"

#include "app/Settings.h"

#include <QtGlobal>

namespace {
Platform* g_platform = nullptr;
}

Platform& platform()
{
    Q_ASSERT_X(g_platform, "platform()", "setPlatform() must run before any window is created");
    return *g_platform;
}

void setPlatform(Platform* services)
{
    g_platform = services;
}

QString messageBoxCaption(const QString& caption)
{
    return caption.isEmpty() ? kAppTitle : caption;
}
