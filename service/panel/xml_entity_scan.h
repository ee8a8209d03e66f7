// Whether an XML document declares an entity, found without a parser, so that a loader can
// refuse such a document before its parser sees it (no entity is ever expanded or fetched).
#pragma once

#include <string_view>

namespace zelk {

// True when the document type's internal subset holds an entity declaration (general or
// parameter). The text "<!ENTITY" elsewhere (in a comment, a CDATA section, a processing
// instruction, a quoted literal or the body) declares nothing. `bytes` is the file as stored:
// UTF-16 of either byte order (by its byte order mark or its first '<') or any encoding that
// keeps ASCII as it is. A document type that does not end (the parser refuses the document
// anyway) counts as declaring one.
bool DeclaresEntity(std::string_view bytes);

}  // namespace zelk
