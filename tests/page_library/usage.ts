// What a site writes with @quorvant/signing; only compiled (tsc --noEmit), never run.
import {connect, SigningError, ERROR_CODES, type Session, type SigningErrorCode} from '@quorvant/signing';

async function signUpload(input: HTMLInputElement, cancel: AbortSignal): Promise<Uint8Array | string> {
  try {
    const signer = await connect({timeout: 30000, onAsking: (asking: boolean) => asking, onHostStopped: (error) => error.code});
    const limit: number = signer.maxFileBytes;
    const session: Session = await signer.open();
    const certificate: Uint8Array = await session.certificate();
    const file = input.files?.[0] ?? new Uint8Array(limit > certificate.length ? 1 : 0);
    const signature = await session.sign(file, {
      signal: cancel,
      onProgress: ({sentBytes, totalBytes}) => sentBytes / totalBytes,
    });
    if (!session.closed) await session.close();
    return signature;
  } catch (error) {
    if (!(error instanceof SigningError)) throw error;
    const code: SigningErrorCode = error.code;
    return code === 'extension-missing' ? 'install it' : error.message;
  }
}

// @ts-expect-error: codes are a fixed set
const unknown: SigningErrorCode = 'version-mismatch';
// @ts-expect-error: sign takes bytes, not text
async function signText(session: Session) { return session.sign('text'); }

export {signUpload, unknown, signText, ERROR_CODES};
