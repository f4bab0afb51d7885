// The contract of @quorvant/signing: signing files in a web page with the
// person's key containers, through the Quorvant extension and signing host.
// Times are milliseconds, sizes bytes, certificates and signatures DER.

/**
 * Why a call failed:
 * - 'insecure-context': the page is not a secure context (https, or http on localhost).
 * - 'extension-missing': the extension did not answer in time (not installed, or not enabled for this page).
 * - 'host-missing': the signing host is not installed for this browser.
 * - 'host-stopped': the host exited or crashed; every open session is gone.
 * - 'denied': the person or the administrator's policy did not allow this site, or nobody answered.
 * - 'timeout': no sign of life from the host within the time limit; the host was stopped and every open
 *   session is gone.
 * - 'too-large': the content is larger than `Signer.maxFileBytes`; nothing was sent.
 * - 'cancelled': the call's AbortSignal fired.
 * - 'library-failure': the host answered with an error; the message is the host's own description
 *   (a wrong PIN, an unknown key container, ...).
 * - 'failed': anything else: the extension could not pass the request on (e.g. reading the file failed)
 *   or refused it, the session was closed by the page, or an answer lacked what was asked for.
 */
export type SigningErrorCode =
  | 'extension-missing'
  | 'host-missing'
  | 'host-stopped'
  | 'denied'
  | 'timeout'
  | 'too-large'
  | 'cancelled'
  | 'insecure-context'
  | 'library-failure'
  | 'failed';

/** Every code a SigningError can carry. */
export const ERROR_CODES: readonly SigningErrorCode[];

/** Every failure of this library; `message` is plain words for the person at the page. */
export class SigningError extends Error {
  constructor(code: SigningErrorCode, message: string, options?: {cause?: unknown});
  readonly name: 'SigningError';
  readonly code: SigningErrorCode;
}

export interface ConnectOptions {
  /**
   * The longest a request waits for a sign of life from the host (its answer, or a part of the file
   * acknowledged); each sign of life starts the wait again. While the person is asked whether this site
   * may use the product (`onAsking`), the wait is at least 5 minutes. On expiry the host is stopped,
   * which ends every open session. Default 120000 (room to type a PIN).
   */
  timeout?: number;
  /** The longest to wait for the extension to answer connect(). Default 5000. */
  connectTimeout?: number;
  /**
   * Called with true when the extension opens a window asking the person whether this site may use the
   * product, and with false once the request moves on (the person answered, or the request ended).
   */
  onAsking?: (asking: boolean) => void;
  /** The host stopped while no request was waiting; every open session is gone. */
  onHostStopped?: (error: SigningError) => void;
}

export interface Progress {
  /** Bytes of the file the host has acknowledged (never bytes merely read). */
  sentBytes: number;
  totalBytes: number;
}

export interface SignOptions {
  /** Called after each part of the file the host acknowledged. */
  onProgress?: (progress: Progress) => void;
  /** Aborting rejects the call with 'cancelled' at once; the host discards the file's parts. */
  signal?: AbortSignal;
}

/** The extension on this page, with its own signing host; requests are served in order. */
export interface Signer {
  /** The extension's version. */
  readonly version: string;
  /** The largest content `Session.sign` accepts. */
  readonly maxFileBytes: number;
  /** The browser's name, in words for a person. */
  readonly browser: string;
  /** Opens a key container by name; without one, the person's default container. */
  open(container?: string): Promise<Session>;
}

/** An open key container. */
export interface Session {
  /** True once close() was called or the host stopped; every call then fails. */
  readonly closed: boolean;
  /** The signer's certificate (DER). */
  certificate(): Promise<Uint8Array>;
  /** A CMS signature (DER) of the content, which is sent to the host in parts. */
  sign(content: Blob | ArrayBuffer | ArrayBufferView, options?: SignOptions): Promise<Uint8Array>;
  /** Closes the key container; does nothing when it is closed already. */
  close(): Promise<void>;
}

/** Finds the extension; rejects with 'insecure-context' or 'extension-missing'. */
export function connect(options?: ConnectOptions): Promise<Signer>;
