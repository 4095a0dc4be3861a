#include "filters/processing/lf_group.h"

#include <new>

#include "filters/processing/small_filter.h"

class CLfGroup : public CSmallFilter {
public:
    CLfGroup() : CSmallFilter(L"Group tag", L"グループタグ") { kind = 1; }
};

CImgFilter* CreateLfGroup() { return new (std::nothrow) CLfGroup; }
