// Emoji shortcodes (":tada:", ":+1:") rendered as GitHub does, from GitHub's own emoji table
// (gemoji, reduced at build time to name -> emoji and shipped in the page).
//
//   emojiExtension() -> marked extension: an inline token, so that shortcodes inside code spans,
//       code blocks, autolinks and link destinations stay as written
//   emojiFor(name) -> the emoji for a shortcode name, or undefined
//
// The table is parsed on the first shortcode-like text a document holds: documents without one
// never pay for it.

import { EMOJI_TABLE } from 'lumivale:emoji';

let table = null;

export function emojiFor(name) {
  if (!table) table = new Map(EMOJI_TABLE.split(',').map((pair) => pair.split(' ')));
  return table.get(name);
}

const SHORTCODE = /^:([a-z0-9_+-]+):/;
const CANDIDATE = /:[a-z0-9_+-]+:/;

export function emojiExtension() {
  return {
    extensions: [
      {
        name: 'emoji',
        level: 'inline',
        start(src) {
          const found = CANDIDATE.exec(src);
          return found ? found.index : undefined;
        },
        tokenizer(src) {
          const match = SHORTCODE.exec(src);
          if (!match) return undefined;
          const emoji = emojiFor(match[1]);
          if (!emoji) return undefined;
          return { type: 'emoji', raw: match[0], name: match[1], emoji };
        },
        // Names are [a-z0-9_+-] only: nothing in the markup needs escaping.
        renderer: (token) =>
          `<span class="lumivale-emoji" role="img" aria-label="${token.name}" data-shortcode="${token.name}">${token.emoji}</span>`,
      },
    ],
  };
}
