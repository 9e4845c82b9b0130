#include "playback/StreamController.h"

StreamController *StreamController::instance()
{
    static StreamController controller;
    return &controller;
}
