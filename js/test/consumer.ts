// A small consumer of the package's types: tsc --noEmit over it (test/run)
// fails when mornak.d.ts and the contract part ways, and when the two
// calls marked at the end as expected errors stop being errors.
import { BkError, compress, compressStream, contentSize, decompress, decompressStream, Decoder, Encoder, verify,
  version } from "mornak";

const bytes: Uint8Array = new TextEncoder().encode(version);
const bk: Uint8Array = compress(bytes);
const back: Uint8Array = decompress(bk);
const length: number = contentSize(bk);
verify(back.length === length ? bk : back);

const encoder = new Encoder({ size: bytes.length });
const parts: Uint8Array[] = [encoder.push(bytes), encoder.finish()];
const header: Uint8Array | null = encoder.header;
encoder.free();
const decoder = new Decoder();
parts.push(decoder.push(bk), decoder.finish());
decoder.free();

try {
  decompress(bk.subarray(0, 9));
} catch (error) {
  if (error instanceof BkError) {
    const fields: [string, number, number, number, string] = [error.status, error.atByte, error.code, error.restored,
      error.message];
    console.log(fields, header);
  }
}

async function streams(source: ReadableStream<Uint8Array>): Promise<Uint8Array> {
  const stream = compressStream();
  const restored = source.pipeThrough(stream).pipeThrough(decompressStream());
  await restored.pipeTo(new WritableStream());
  return stream.header;
}
void streams;

// @ts-expect-error: a string is no bytes
compress("text");
// @ts-expect-error: the size is a number
new Encoder({ size: "5" });
