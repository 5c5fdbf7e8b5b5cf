// Everything the host-file code offers, for the places that use several of
// its parts: opening, reading and writing (FileAccess), telling files apart
// (FileIdentity), copies and backups (FileCopies) and locks (FileLock).
#pragma once

#include "FileAccess.h"
#include "FileCopies.h"
#include "FileIdentity.h"
#include "FileLock.h"
