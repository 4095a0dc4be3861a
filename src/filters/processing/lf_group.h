// "Group tag": a switch in the chain. A disabled tag makes the run skip the
// filters after it up to the next tag.
#pragma once

class CImgFilter;
class CLfGroup;

CImgFilter* CreateLfGroup();
