#include "downloads/DownloadManager.h"

DownloadManager *DownloadManager::instance()
{
    static DownloadManager controller;
    return &controller;
}
