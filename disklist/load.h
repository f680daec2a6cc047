// The startup load: rows from the registry, marked images mounted.
#pragma once

int LoadDiskList();
