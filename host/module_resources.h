// The module's resources: string table, viewer dialog template, cursors, version block.
#pragma once

#include "platform/resources.h"

const platform::ResourceTable& ModuleResources();
