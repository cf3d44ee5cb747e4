// PDF pages as image sources (images/image_source.h), rendered by poppler.
//
// A page is rendered at image_open_options::render_dpi into bands of whole rows, one
// band at a time, so an A0 page at 600 dpi never sits in memory whole. Rows are red,
// green and blue bytes composited over white paper; the page's own rotation is
// honoured (a page turned by 90 degrees is as wide as its box is high).
#pragma once

// Adds the PDF opener to open_image_source. Programs call it once at start.
void pdf_source_register();
