#include "learning/HistoryManager.h"

HistoryManager *HistoryManager::instance()
{
    static HistoryManager controller;
    return &controller;
}
