#include "playback/HeadphoneMonitor.h"

HeadphoneMonitor *HeadphoneMonitor::instance()
{
    static HeadphoneMonitor controller;
    return &controller;
}
