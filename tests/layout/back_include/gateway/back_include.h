// A gateway header that reaches up into the video folder: the layout check
// must refuse this tree.
#pragma once

#include "gateway/wire_format.h"
#include "video/video_manager.h"
