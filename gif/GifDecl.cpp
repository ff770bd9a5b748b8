#include "GifDecl.h"

void RaiseListIndexError(std::int64_t index)
{
    throw EStringListError("Der Index der Liste überschreitet das Maximum (" + std::to_string(index) + ")");
}
