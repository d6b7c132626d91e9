// Share links: the source and the input travel in the address's fragment
// as "#src=" base64url(UTF-8 source) "&in=" base64url(UTF-8 input).
const utf8 = new TextEncoder();

export function toBase64url(text) {
  let bin = '';
  for (const b of utf8.encode(text)) bin += String.fromCharCode(b);
  return btoa(bin).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

// Returns null for text that is not base64url of UTF-8.
export function fromBase64url(text) {
  try {
    const b64 = text.replace(/-/g, '+').replace(/_/g, '/');
    const bin = atob(b64 + '='.repeat((4 - (b64.length % 4)) % 4));
    return new TextDecoder('utf-8', { fatal: true }).decode(Uint8Array.from(bin, (c) => c.charCodeAt(0)));
  } catch {
    return null;
  }
}

export function shareHash(source, input) {
  return '#src=' + toBase64url(source) + (input ? '&in=' + toBase64url(input) : '');
}

// {source, input} from a fragment, or null when it holds no readable source.
export function readShare(hash) {
  const params = new URLSearchParams(hash.replace(/^#/, ''));
  const source = params.has('src') ? fromBase64url(params.get('src')) : null;
  if (source === null) return null;
  return { source, input: (params.has('in') && fromBase64url(params.get('in'))) || '' };
}
